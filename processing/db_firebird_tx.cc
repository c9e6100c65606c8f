// The run's transaction on Firebird with read-committed isolation.
//
// The Firebird backend starts its transactions with the client's defaults,
// which are snapshot isolation: two runs that touch the same customer or stock
// rows would then refuse each other's committed updates ("update conflicts
// with concurrent update") and one descarga would be rolled back. The backend
// keeps its transaction handle private and offers no way to pass options, so
// the run's transaction is started here on that handle, with the options a
// back office expects (read committed, record versions, wait on locks); the
// backend's own commit and rollback then end it as usual.
#include <dlfcn.h>
#include <ibase.h>
#include <soci/firebird/soci-firebird.h>

#include "processing/db_firebird_tx.h"
#include "processing/db_internal.h"
#include "qsmlib/except.h"

namespace {

// An explicit instantiation may name a private member: this hands out a
// pointer to the backend's transaction handle without touching its layout.
using TrMember = isc_tr_handle soci::firebird_session_backend::*;
TrMember TransactionHandleMember();
template <TrMember M>
struct TransactionHandleAccess {
  friend TrMember TransactionHandleMember() { return M; }
};
template struct TransactionHandleAccess<&soci::firebird_session_backend::trhp_>;

using StartFn = decltype(&isc_start_transaction);
using CommitFn = decltype(&isc_commit_transaction);
using MessageFn = decltype(&fb_interpret);

struct ClientEntries {
  StartFn start = nullptr;
  CommitFn commit = nullptr;
  MessageFn message = nullptr;
};

// The client library is already loaded by the backend; it is looked up, not
// linked, so the program still starts on a machine that uses another kind.
const ClientEntries& Client() {
  static const ClientEntries entries = [] {
    ClientEntries e;
    for (const char* name : {"libfbclient.so.2", "libfbclient.so"}) {
      void* lib = dlopen(name, RTLD_LAZY | RTLD_NOLOAD);
      if (lib == nullptr) lib = dlopen(name, RTLD_LAZY);
      if (lib == nullptr) continue;
      e.start = reinterpret_cast<StartFn>(dlsym(lib, "isc_start_transaction"));
      e.commit = reinterpret_cast<CommitFn>(dlsym(lib, "isc_commit_transaction"));
      e.message = reinterpret_cast<MessageFn>(dlsym(lib, "fb_interpret"));
      if (e.start != nullptr && e.commit != nullptr) break;
    }
    return e;
  }();
  return entries;
}

std::string ClientMessage(const ISC_STATUS* status) {
  std::string text;
  if (Client().message == nullptr) return "erro do cliente Firebird";
  char buffer[512];
  const ISC_STATUS* cursor = status;
  while (Client().message(buffer, sizeof buffer, &cursor) > 0) {
    if (!text.empty()) text += ' ';
    text += buffer;
  }
  return text;
}

}  // namespace

void BeginFirebirdReadCommitted(soci::session& session) {
  // The backend's type information lives in the backend library, which is
  // loaded at run time: the backend is told by its name, not by a cast.
  const ClientEntries& client = Client();
  if (session.get_backend_name() != "firebird" || client.start == nullptr) {
    session.begin();  // not reachable with the Firebird backend; keep the run going
    return;
  }
  auto* backend = static_cast<soci::firebird_session_backend*>(session.get_backend());
  isc_tr_handle* handle = &(backend->*TransactionHandleMember());
  ISC_STATUS status[20] = {};
  // A transaction the backend opened on its own for earlier statements holds
  // nothing of the run: end it so the run's one starts clean.
  if (*handle != 0 && client.commit(status, handle) != 0) throw Exception(ClientMessage(status));
  static const char kOptions[] = {isc_tpb_version3, isc_tpb_write, isc_tpb_read_committed,
                                  isc_tpb_rec_version, isc_tpb_wait};
  if (client.start(status, handle, 1, &backend->dbhp_, static_cast<short>(sizeof kOptions), kOptions) != 0)
    throw Exception(ClientMessage(status));
}
