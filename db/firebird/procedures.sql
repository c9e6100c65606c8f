/*
  The three procedures the processor calls.

  TRV_GEN_INCREMENTA: advances one of the six generators and returns its new
  value as text. Generators are outside transaction control: a value drawn
  in a transaction that is later rolled back is not handed out again.

  TRV_EXP_TMVS_TAF(job): moves the staged rows of one job (NUPROC) that the
  calling transaction wrote into the back office, in one go, inside that
  transaction:
    1. the job's staged customers (TMVSCLIALT) are inserted into CLIENTE, or
       update it when the code is already there;
    2. every staged order of the job (TMVSCAB) becomes a TAFCAB row with its
       items (TMVSITE) as TAFITE rows: DTPROC the moment of the export,
       IMPORTADO '1', IDF_CANC '1' when the device cancelled the order (IDCAN
       '1' or 'S'), and a message per order and per item (an item whose
       product is not in PRODUTO is taken with the message
       'Produto nao cadastrado.');
    3. the staged rows are not marked: the import and the export commit or
       roll back together, so a committed staged row has been exported. The
       rows of the run are told by their record version (the calling
       transaction), which keeps an earlier run of the same job name out.
       Marking them (an UPDATE of every row the transaction has just
       inserted) would keep an undo image of each one in the engine's memory
       until the procedure ends: a large descarga would need memory in
       proportion to its size.
  Rule: an order whose customer is neither in CLIENTE nor staged in
  TMVSCLIALT by the same job raises E_TRV_EXPORTACAO, and nothing of the job
  is exported. An order code already in TAFCAB is refused the same way (the
  primary key).

  VUDIDEVADUZAVERARED: for every item of an open order not served yet
  (QTDE_ATENDIDA NULL), in order and product order, serves what the stock
  allows: a product without stock control (QTD_ESTOQUE NULL) is served in
  full, an unknown product not at all; QTDE_FALTA is the rest, and the stock
  goes down by what was served.
*/

SET TERM ^ ;

CREATE PROCEDURE TRV_GEN_INCREMENTA (INC_GENERATOR VARCHAR(63))
RETURNS (RETORNO VARCHAR(30))
AS
BEGIN
  IF (INC_GENERATOR = 'INC_TMVSCAB') THEN RETORNO = GEN_ID(INC_TMVSCAB, 1);
  ELSE IF (INC_GENERATOR = 'INC_TMVSCLIALT') THEN RETORNO = GEN_ID(INC_TMVSCLIALT, 1);
  ELSE IF (INC_GENERATOR = 'INC_TMVSMNVCL') THEN RETORNO = GEN_ID(INC_TMVSMNVCL, 1);
  ELSE IF (INC_GENERATOR = 'INC_TMVSFINANC') THEN RETORNO = GEN_ID(INC_TMVSFINANC, 1);
  ELSE IF (INC_GENERATOR = 'INC_TMVSDESCARGA') THEN RETORNO = GEN_ID(INC_TMVSDESCARGA, 1);
  ELSE IF (INC_GENERATOR = 'INC_TMVSCBMANIFRET') THEN RETORNO = GEN_ID(INC_TMVSCBMANIFRET, 1);
  ELSE EXCEPTION E_TRV_GERADOR 'Gerador desconhecido: ' || COALESCE(INC_GENERATOR, '');
END^

CREATE PROCEDURE TRV_EXP_TMVS_TAF (NUPROC_EXP VARCHAR(60))
AS
  DECLARE VARIABLE V_CDCL VARCHAR(25);
  DECLARE VARIABLE V_DSRAZ VARCHAR(100);
  DECLARE VARIABLE V_DSFAN VARCHAR(100);
  DECLARE VARIABLE V_DSCGCP VARCHAR(25);
  DECLARE VARIABLE V_CDEQP VARCHAR(10);
  DECLARE VARIABLE V_CDPED VARCHAR(25);
  DECLARE VARIABLE V_CDMW VARCHAR(40);
  DECLARE VARIABLE V_CDCNPG VARCHAR(25);
  DECLARE VARIABLE V_CDTPVD VARCHAR(25);
  DECLARE VARIABLE V_DTCRIA TIMESTAMP;
  DECLARE VARIABLE V_DTENT TIMESTAMP;
  DECLARE VARIABLE V_VLPED NUMERIC(15,4);
  DECLARE VARIABLE V_DSOBS VARCHAR(300);
  DECLARE VARIABLE V_IDCAN VARCHAR(10);
BEGIN
  FOR SELECT CDCL, DSRAZ, DSFAN, DSCGCP, CDEQP
        FROM TMVSCLIALT
       WHERE NUPROC = :NUPROC_EXP AND RDB$RECORD_VERSION = CURRENT_TRANSACTION
        INTO :V_CDCL, :V_DSRAZ, :V_DSFAN, :V_DSCGCP, :V_CDEQP
  DO
    UPDATE OR INSERT INTO CLIENTE (CODCLIENTE, NOME, FANTASIA, CNPJCPF, COD_VENDEDOR)
      VALUES (:V_CDCL, :V_DSRAZ, :V_DSFAN, :V_DSCGCP, :V_CDEQP)
      MATCHING (CODCLIENTE);

  FOR SELECT CDPED, CDCL, CDEQP, CDMW, CDCNPG, CDTPVD, DTCRIA, DTENT, VLPED, DSOBS, IDCAN
        FROM TMVSCAB
       WHERE NUPROC = :NUPROC_EXP AND RDB$RECORD_VERSION = CURRENT_TRANSACTION
       ORDER BY CDPED
        INTO :V_CDPED, :V_CDCL, :V_CDEQP, :V_CDMW, :V_CDCNPG, :V_CDTPVD, :V_DTCRIA, :V_DTENT,
             :V_VLPED, :V_DSOBS, :V_IDCAN
  DO
  BEGIN
    IF (NOT EXISTS (SELECT 1 FROM CLIENTE WHERE CODCLIENTE = :V_CDCL)) THEN
      EXCEPTION E_TRV_EXPORTACAO 'Pedido ' || COALESCE(V_CDPED, '') || ': cliente ' ||
        COALESCE(V_CDCL, '') || ' nao cadastrado.';

    INSERT INTO TAFCAB (COD_PEDIDO, CDMW, COD_CLIENTE, COD_VENDEDOR, COD_CONDPGTO, COD_TIPOVENDA,
                        IMPORTADO, DAT_HORACRIACAOPED, DAT_ENTREGA, VLR_TOTAL, OBSERVACAO, DTPROC,
                        IDF_CANC, MSG_IMPORTACAO, NUPROC)
      VALUES (:V_CDPED, :V_CDMW, :V_CDCL, :V_CDEQP, :V_CDCNPG, :V_CDTPVD,
              '1', :V_DTCRIA, :V_DTENT, :V_VLPED, :V_DSOBS, CURRENT_TIMESTAMP,
              IIF(:V_IDCAN IN ('1', 'S'), '1', '0'), 'Pedido importado com sucesso.', :NUPROC_EXP);

    INSERT INTO TAFITE (COD_PEDIDO, COD_PRODUTO, COD_GRADE, QTD_VENDA, VLR_UNITARIO, MSG_IMPORTACAO)
      SELECT I.CDPED, I.CDPROD, NULLIF(TRIM(I.CDGRAD), ''), I.QTDVND, I.VLVEND,
             IIF(EXISTS (SELECT 1 FROM PRODUTO P WHERE P.CODPROD = I.CDPROD),
                 'Item importado.', 'Produto nao cadastrado.')
        FROM TMVSITE I
       WHERE I.CDPED = :V_CDPED;

  END

END^

CREATE PROCEDURE VUDIDEVADUZAVERARED
AS
  DECLARE VARIABLE V_KEY CHAR(8) CHARACTER SET OCTETS;
  DECLARE VARIABLE V_PRODUTO VARCHAR(25);
  DECLARE VARIABLE V_QTD NUMERIC(15,4);
  DECLARE VARIABLE V_ESTOQUE NUMERIC(15,4);
  DECLARE VARIABLE V_ATENDIDA NUMERIC(15,4);
  DECLARE VARIABLE V_EXISTE SMALLINT;
BEGIN
  FOR SELECT I.RDB$DB_KEY, I.COD_PRODUTO, COALESCE(I.QTD_VENDA, 0)
        FROM TAFITE I
        JOIN TAFCAB C ON C.COD_PEDIDO = I.COD_PEDIDO
       WHERE I.QTDE_ATENDIDA IS NULL AND C.IDF_CANC = '0'
       ORDER BY I.COD_PEDIDO, I.COD_PRODUTO
        INTO :V_KEY, :V_PRODUTO, :V_QTD
  DO
  BEGIN
    V_EXISTE = 0;
    V_ESTOQUE = NULL;
    SELECT 1, QTD_ESTOQUE FROM PRODUTO WHERE CODPROD = :V_PRODUTO INTO :V_EXISTE, :V_ESTOQUE;
    IF (V_EXISTE = 0) THEN
      V_ATENDIDA = 0;
    ELSE IF (V_ESTOQUE IS NULL OR V_ESTOQUE >= V_QTD) THEN
      V_ATENDIDA = V_QTD;
    ELSE
      V_ATENDIDA = MAXVALUE(V_ESTOQUE, 0);

    UPDATE TAFITE SET QTDE_ATENDIDA = :V_ATENDIDA, QTDE_FALTA = :V_QTD - :V_ATENDIDA
     WHERE RDB$DB_KEY = :V_KEY;
    IF (V_EXISTE = 1 AND V_ESTOQUE IS NOT NULL) THEN
      UPDATE PRODUTO SET QTD_ESTOQUE = QTD_ESTOQUE - :V_ATENDIDA WHERE CODPROD = :V_PRODUTO;
  END
END^

SET TERM ; ^

COMMIT;
