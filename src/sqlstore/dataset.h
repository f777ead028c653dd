// Query and table datasets: a statement's result with named, typed columns.
// A dataset reads its result whole at open and keeps it in memory, so that
// navigation never touches the engine; a query set with SetInPlaceSQL instead
// reads the rows of one table in place, a few windows at a time, so that a
// result of millions of rows costs no more memory than one of hundreds.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sqlstore/database.h"

enum TFieldType {
  ftString,      // text of the declared size
  ftWideString,  // wide text (not supported by the datasets)
  ftInteger,     // 32-bit integer
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDate,
  ftTime,
  ftDateTime,
  ftTimeStamp,  // not supported by the datasets
  ftBlob,
  ftGraphic,
  ftMemo,  // long text
};

// What a declared column type maps to.
struct TFieldTypeInfo {
  TFieldType type = ftString;
  int size = 255;     // text length of a text field
  int precision = 0;  // digits after the separator of numeric(p,s)
};

// Declared type -> field type, size, precision (case-insensitive).
TFieldTypeInfo GetFieldInfo(const std::string& declared);

// One field of an open dataset.
struct TFieldDef {
  std::string name;
  std::string declared;  // the column's declared type ("string" when none)
  TFieldType type = ftString;
  int size = 255;
  int precision = 0;
};

// The rows of one result held compactly in memory: each row is one byte run
// (cell offsets then the cell bytes) inside large shared chunks. Values are
// kept whole; a NULL is stored as an empty cell.
class TFResult {
 public:
  TFResult() = default;
  explicit TFResult(int columns) { SetColumns(columns); }
  TFResult(const TFResult&) = delete;
  TFResult& operator=(const TFResult&) = delete;

  void SetColumns(int columns);
  int Columns() const { return columns_; }
  int Count() const { return static_cast<int>(rows_.size()); }
  // Appends a row of Columns() cells; returns its position.
  int Add(const std::vector<std::string_view>& cells, int64_t rowid);
  // Inserts a row before position pos (0..Count()).
  void Insert(int pos, const std::vector<std::string_view>& cells, int64_t rowid);
  void Delete(int pos);
  void Clear();
  std::string_view Cell(int row, int col) const;
  int GetBookmark(int row) const { return rows_[row].bookmark; }
  int64_t GetRowId(int row) const { return rows_[row].rowid; }
  // Bytes held by the row chunks and the row index (for measurements).
  size_t MemoryUsed() const;

 private:
  struct Row {
    const char* data;  // uint32 offsets[columns + 1], then the cell bytes
    int64_t rowid;
    int bookmark;
  };
  const char* Store(const std::vector<std::string_view>& cells);

  int columns_ = 0;
  int next_bookmark_ = 0;
  std::vector<Row> rows_;
  std::vector<std::unique_ptr<char[]>> chunks_;
  size_t chunk_used_ = 0, chunk_size_ = 0, chunk_total_ = 0;
};

// A named parameter (":name") or a bare "?" of a query; values are bound to the
// engine as parameters, never pasted into the text.
struct TParam {
  std::string name;  // empty for "?"
  std::string value;
  bool isNull = false;  // an empty value marked null binds NULL
};

// A field's value in the current row.
class TFieldValue {
 public:
  TFieldValue(const TFieldDef* def, std::string_view text) : def_(def), text_(text) {}
  const TFieldDef& Def() const { return *def_; }
  std::string AsString() const { return std::string(text_); }
  std::string_view AsView() const { return text_; }
  int AsInteger() const;
  double AsFloat() const;
  bool IsEmpty() const { return text_.empty(); }

 private:
  const TFieldDef* def_;
  std::string_view text_;
};

namespace quorvel {
class TInPlaceRows;
class TOrderedRows;
class TRowQuery;
}

class TASQLite3BaseQuery {
 public:
  explicit TASQLite3BaseQuery(TASQLite3DB* connection = nullptr);
  virtual ~TASQLite3BaseQuery();
  TASQLite3BaseQuery(const TASQLite3BaseQuery&) = delete;
  TASQLite3BaseQuery& operator=(const TASQLite3BaseQuery&) = delete;

  TASQLite3DB* Connection() const { return connection_; }
  void SetConnection(TASQLite3DB* db);

  bool AutoCommit = false;
  std::string TransactionType;
  bool SQLiteDateFormat = true;
  std::string TableDateFormat;
  int MaxResults = 0;
  int StartResult = 0;
  bool TypeLess = false;
  bool SQLCursor = true;
  bool ReadOnly = false;
  std::string Filter;
  bool Filtered = false;

  bool Active() const { return active_; }
  void SetActive(bool value);
  void Open();
  void Close();
  // Closes, then opens (runs the statement); a statement without result
  // columns leaves the dataset open with no fields and no rows.
  void ExecSQL();

  // Cursor over the rows in memory. After Open the current row is the first.
  void First();
  void Next();
  void Prior();
  void Last();
  bool Eof() const { return eof_; }
  bool Bof() const { return bof_; }
  int RecordCount() const;
  // 1-based; 0 on an empty result. Setting it moves the cursor.
  int RecNo() const { return RecordCount() ? cur_ + 1 : 0; }
  void SetRecNo(int recno);

  int FieldCount() const { return static_cast<int>(fields_.size()); }
  const TFieldDef& FieldDef(int index) const { return fields_[index]; }
  const std::vector<TFieldDef>& FieldDefs() const { return fields_; }
  // -1 when there is no field of that name (case-insensitive).
  int FieldIndex(const std::string& name) const;
  // The current row's value; raises AsgError when the field does not exist.
  TFieldValue FieldByName(const std::string& name) const;

  // Random access without copying: row 0..RecordCount()-1, col 0..FieldCount()-1.
  // Of a dataset reading in place, the view lasts until another row is read
  // (copy it first), and a row that could not be read gives empty cells and
  // sets ReadError.
  std::string_view CellText(int row, int col) const;
  int64_t RowId(int row) const;
  // The rows held in memory (none while reading in place).
  const TFResult& Result() const { return result_; }

  // Whether the open dataset reads its rows in place (SetInPlaceSQL, and the
  // table allowed it).
  bool ReadsInPlace() const { return inplace_ != nullptr || ordered_ != nullptr; }
  // A walk over every row in order from the first (an export): rows read in
  // place come meanwhile from one sorted read of the table, much faster than
  // reading them through the key's index; EndRowWalk lets the table go (so
  // does reading the last row). Nothing changes for a dataset read whole.
  void BeginRowWalk() const;
  void EndRowWalk() const;
  // Why a row read in place could not be read, empty while every read
  // succeeded; kept until the dataset closes. Always empty for a dataset
  // read whole, which fails at open instead.
  const std::string& ReadError() const;

  // Finds the first row whose ";"-separated fields hold the ";"-separated
  // values and moves the cursor there.
  bool Locate(const std::string& fields, const std::string& values);

  // Edits, written at once as one statement each (values in field order;
  // missing ones empty) and mirrored in the rows in memory. A read-only
  // dataset refuses them; a query has no table to write to.
  void AppendRecord(const std::vector<std::string>& values);
  void UpdateRecord(const std::vector<std::string>& values);
  void DeleteRecord();

  // The statement text run at open.
  virtual std::string BuildStatement() = 0;
  // Parameters bound when the statement runs (queries only).
  virtual const std::vector<TParam>* BoundParams() const { return nullptr; }
  // The table and key column to read in place; false to read whole.
  virtual bool InPlaceSource(std::string& /*table*/, std::string& /*key*/) const { return false; }
  // The rows as shown to read in place (SetRowQuery); nullptr otherwise.
  virtual const quorvel::TRowQuery* RowQuerySource() const { return nullptr; }

  // Filled by the connection while the statement runs.
  std::vector<TFieldDef>& MutableFields() { return fields_; }
  TFResult& MutableResult() { return result_; }

 protected:
  void InternalOpen();
  // The table edits are written to; raises when the dataset cannot write.
  virtual const std::string& EditTable() const;
  virtual bool AutoIncFirstField() const { return false; }

 private:
  TASQLite3DB* connection_ = nullptr;
  bool active_ = false;
  std::vector<TFieldDef> fields_;
  TFResult result_;
  std::unique_ptr<quorvel::TInPlaceRows> inplace_;
  std::unique_ptr<quorvel::TOrderedRows> ordered_;
  int cur_ = 0;
  bool eof_ = true, bof_ = true;
};

class TASQLite3Query : public TASQLite3BaseQuery {
 public:
  using TASQLite3BaseQuery::TASQLite3BaseQuery;

  // Take the text as it is, without looking for ":name" parameters.
  bool RawSQL = false;

  // Setting the statement text closes the query and finds its parameters.
  void SetSQL(const std::string& text);
  // Sets the statement SELECT * FROM "<table>" ORDER BY "<key>" ASC and has Open read
  // the rows in place: the same fields, rows, order and texts as the whole
  // read, read from the table as they are asked for (RecordCount counts them
  // once at open). Ties of the key come in rowid order. The first open makes
  // an index on the key when the table has none. A table that cannot be read
  // so (a view, no rowid, keys that are NULL or floating-point, a store that
  // cannot take the index) is read whole, as by SetSQL; ReadsInPlace tells.
  // Filter, MaxResults and StartResult also make it read whole.
  void SetInPlaceSQL(const std::string& table, const std::string& key);
  // Reads the rows a TRowQuery describes (rowquery.h), in place: its columns,
  // its filter and its order, counted once at open. A plain query (every
  // column, no filter, no order) is exactly SetInPlaceSQL(table, key). The
  // query should be resolved (TRowQuery::Resolve) against the same store.
  void SetRowQuery(const quorvel::TRowQuery& query);
  // The query last set by SetRowQuery, or nullptr after SetSQL.
  const quorvel::TRowQuery* RowQuery() const { return rowQuery_.get(); }
  const std::string& SQL() const { return sql_; }
  std::vector<TParam>& Params() { return params_; }
  // Sets the values of the parameters in order (the text's "?" or ":name").
  void SetParamValues(const std::vector<std::string>& values);
  // Raises AsgError when there is no such parameter.
  TParam& ParamByName(const std::string& name);

  std::string BuildStatement() override;
  const std::vector<TParam>* BoundParams() const override { return &params_; }
  bool InPlaceSource(std::string& table, std::string& key) const override;
  const quorvel::TRowQuery* RowQuerySource() const override;

 private:
  std::string sql_, parsed_;
  std::shared_ptr<const quorvel::TRowQuery> rowQuery_;  // set by SetRowQuery
  std::vector<TParam> params_;
  std::string inPlaceTable_, inPlaceKey_;  // set by SetInPlaceSQL
};

class TASQLite3Table : public TASQLite3BaseQuery {
 public:
  using TASQLite3BaseQuery::TASQLite3BaseQuery;

  std::string TableName;
  bool PrimaryAutoInc = false;

  std::string BuildStatement() override;

 protected:
  const std::string& EditTable() const override { return TableName; }
  bool AutoIncFirstField() const override { return PrimaryAutoInc; }
};
