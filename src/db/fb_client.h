#pragma once
// The Firebird client library's legacy C interface, looked up at run time.
// ibase.h supplies types and constants only; the library itself is never
// linked, so a machine without it gets an ordinary database error.
#include <ibase.h>

#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"

namespace trelvex::db {

class FbClient {
 public:
  // Loads the first library of `names`; raises EDatabaseError naming the
  // libraries tried when none loads or a function is missing.
  explicit FbClient(const std::vector<std::string>& names);
  FbClient(const FbClient&) = delete;
  FbClient& operator=(const FbClient&) = delete;

  decltype(&isc_attach_database) attach_database = nullptr;
  decltype(&isc_detach_database) detach_database = nullptr;
  decltype(&isc_start_transaction) start_transaction = nullptr;
  decltype(&isc_commit_transaction) commit_transaction = nullptr;
  decltype(&isc_rollback_transaction) rollback_transaction = nullptr;
  decltype(&isc_dsql_allocate_statement) dsql_allocate_statement = nullptr;
  decltype(&isc_dsql_prepare) dsql_prepare = nullptr;
  decltype(&isc_dsql_describe) dsql_describe = nullptr;
  decltype(&isc_dsql_describe_bind) dsql_describe_bind = nullptr;
  decltype(&isc_dsql_execute) dsql_execute = nullptr;
  decltype(&isc_dsql_execute2) dsql_execute2 = nullptr;
  decltype(&isc_dsql_execute_immediate) dsql_execute_immediate = nullptr;
  decltype(&isc_dsql_fetch) dsql_fetch = nullptr;
  decltype(&isc_dsql_free_statement) dsql_free_statement = nullptr;
  decltype(&isc_dsql_sql_info) dsql_sql_info = nullptr;
  decltype(&isc_open_blob2) open_blob2 = nullptr;
  decltype(&isc_create_blob2) create_blob2 = nullptr;
  decltype(&isc_get_segment) get_segment = nullptr;
  decltype(&isc_put_segment) put_segment = nullptr;
  decltype(&isc_close_blob) close_blob = nullptr;
  decltype(&isc_cancel_blob) cancel_blob = nullptr;
  decltype(&fb_interpret) interpret = nullptr;

  // Raises EDatabaseError with the status vector's text when it holds an
  // error (warnings are ignored).
  void Check(const ISC_STATUS* status) const {
    if (status[0] == 1 && status[1] != 0) Raise(status);
  }
  [[noreturn]] void Raise(const ISC_STATUS* status) const;
  // The status vector's lines as fb_interpret formats them, joined with CR LF.
  std::string StatusText(const ISC_STATUS* status) const;

 private:
  template <class F>
  void Load(F& fn, const char* name);

  std::unique_ptr<platform::SharedLibrary> library_;
};

}  // namespace trelvex::db
