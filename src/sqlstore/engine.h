// The engine's entry points as the layer calls them, looked up by name in the
// library loaded at run time. Private to the storage layer.
#pragma once

#include <cstdint>

namespace quorvel {

using EngineCallback = int (*)(void*, int, char**, char**);
using EngineDestructor = void (*)(void*);

// Result codes of the engine that the layer looks at.
inline constexpr int kEngineOk = 0;
inline constexpr int kEngineError = 1;
inline constexpr int kEngineBusy = 5;
inline constexpr int kEngineLocked = 6;
inline constexpr int kEngineMisuse = 21;
inline constexpr int kEngineRow = 100;
inline constexpr int kEngineDone = 101;
inline constexpr int kEngineBlobType = 4;
inline constexpr int kEngineNullType = 5;

struct EngineApi {
  int (*open)(const char*, void**);
  int (*close)(void*);
  int (*exec)(void*, const char*, EngineCallback, void*, char**);
  const char* (*libversion)();
  const char* (*errmsg)(void*);
  int (*get_table)(void*, const char*, char***, int*, int*, char**);
  void (*free_table)(char**);
  void (*free)(void*);
  int (*complete)(const char*);
  int64_t (*last_insert_rowid)(void*);
  void (*interrupt)(void*);
  int (*busy_timeout)(void*, int);
  int (*busy_handler)(void*, int (*)(void*, int), void*);
  int (*changes)(void*);
  int (*prepare)(void*, const char*, int, void**, const char**);
  int (*finalize)(void*);
  int (*reset)(void*);
  int (*step)(void*);
  const void* (*column_blob)(void*, int);
  int (*column_bytes)(void*, int);
  int (*column_count)(void*);
  const char* (*column_decltype)(void*, int);
  double (*column_double)(void*, int);
  int (*column_int)(void*, int);
  int64_t (*column_int64)(void*, int);
  const char* (*column_name)(void*, int);
  const unsigned char* (*column_text)(void*, int);
  int (*column_type)(void*, int);
  int (*bind_blob)(void*, int, const void*, int, EngineDestructor);
  // Added for values bound as parameters and statements that stay valid
  // across schema changes.
  int (*prepare_v2)(void*, const char*, int, void**, const char**);
  int (*bind_text)(void*, int, const char*, int, EngineDestructor);
  int (*bind_null)(void*, int);
  int (*bind_parameter_count)(void*);
  int (*clear_bindings)(void*);
  int (*get_autocommit)(void*);
  // Added for rows read in place: keys bound by value.
  int (*bind_int64)(void*, int, int64_t);
  // Added for the text collation and the case folding that sorting and
  // filtering results use (collation.h).
  int (*create_collation_v2)(void*, const char*, int, void*,
                             int (*)(void*, int, const void*, int, const void*), EngineDestructor);
  int (*create_function_v2)(void*, const char*, int, int, void*, void (*)(void*, int, void**),
                            void (*)(void*, int, void**), void (*)(void*), EngineDestructor);
  const unsigned char* (*value_text)(void*);
  int (*value_bytes)(void*);
  void (*result_text)(void*, const char*, int, EngineDestructor);
  void (*result_null)(void*);
  void (*result_int)(void*, int);
  // Added for the values of an entry packed into one value (entryvalues.h).
  const void* (*value_blob)(void*);
  int64_t (*value_int64)(void*);
  void (*result_blob)(void*, const void*, int, EngineDestructor);
};

// Text encoding and function flags of the engine.
inline constexpr int kEngineUtf8 = 1;
inline constexpr int kEngineDeterministic = 0x800;

// The engine copies bound values before the call returns.
inline EngineDestructor EngineTransient() {
  return reinterpret_cast<EngineDestructor>(-1);
}

// The engine uses bound values in place: they must outlive the statement's run.
inline EngineDestructor EngineStatic() {
  return nullptr;
}

}  // namespace quorvel
