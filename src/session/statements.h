#pragma once
// The session's statement texts, as it sends them to the retail database.

namespace trelvex {

extern const char* const kEkspKonfSql;     // the export configuration (:ID)
extern const char* const kEkspHeadSql;     // the queued requests (:IDEKSPKONF)
extern const char* const kEkspHeadUSql;    // request status write
extern const char* const kEkspDetailUSql;  // item status write
extern const char* const kUsunBlokadeSql;  // lock release (:ID)

}  // namespace trelvex
