#include "sqlstore/dataset.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>

#include "sqlstore/engine.h"
#include "sqlstore/inplace.h"
#include "sqlstore/orderedrows.h"
#include "sqlstore/queryrows.h"
#include "sqlstore/rowquery.h"

namespace quorvel {
namespace {

std::string Lower(std::string_view s) {
  std::string r(s);
  for (char& c : r)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return r;
}

std::string_view TrimView(std::string_view s) {
  while (!s.empty() && static_cast<unsigned char>(s.front()) <= ' ') s.remove_prefix(1);
  while (!s.empty() && static_cast<unsigned char>(s.back()) <= ' ') s.remove_suffix(1);
  return s;
}

// A whole decimal integer (leading blanks and a "+" allowed), 32-bit.
bool ParseInt(std::string_view s, int& out) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

bool ParseFloat(std::string_view s, double& out) {
  s = TrimView(s);
  if (!s.empty() && s.front() == '+') s.remove_prefix(1);
  if (s.empty()) return false;
  auto [p, ec] = std::from_chars(s.data(), s.data() + s.size(), out);
  return ec == std::errc() && p == s.data() + s.size();
}

int ParseSize(std::string_view s, int fallback) {
  int v = 0;
  return ParseInt(TrimView(s), v) && v >= 0 ? v : fallback;
}

// Reserved bytes of a field in a native row; 0 for unsupported types.
bool Supported(TFieldType t) {
  return t != ftWideString && t != ftTimeStamp;
}

}  // namespace

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}
}  // namespace quorvel

using namespace quorvel;

TFieldTypeInfo GetFieldInfo(const std::string& declared) {
  const std::string d = Lower(TrimView(declared));
  const size_t open = d.find('(');
  if (open != std::string::npos) {
    const size_t close = d.find(')', open);
    if (close == std::string::npos) return {ftString, 256, 0};
    const std::string base(TrimView(std::string_view(d).substr(0, open)));
    const std::string_view inner = std::string_view(d).substr(open + 1, close - open - 1);
    if (base == "varchar" || base == "char" || base == "varchar2")
      return {ftString, ParseSize(inner, 255), 0};
    if (base == "nvarchar" || base == "nchar" || base == "nvarchar2")
      return {ftWideString, 2 * ParseSize(inner, 255), 0};
    if (base == "numeric") {
      size_t sep = inner.find(',');
      if (sep == std::string_view::npos) sep = inner.find('.');
      if (sep == std::string_view::npos) return {ftFloat, ParseSize(inner, 0), 0};
      // The precision is read from at most two characters after the separator.
      return {ftFloat, ParseSize(inner.substr(0, sep), 0), ParseSize(inner.substr(sep + 1, 2), 0)};
    }
    return {ftString, 255, 0};
  }
  if (d == "date") return {ftDate, 10, 0};
  if (d == "datetime") return {ftDateTime, 24, 0};
  if (d == "time") return {ftTime, 12, 0};
  if (d == "timestamp") return {ftTimeStamp, 12, 0};
  if (d == "integer" || d == "int") return {ftInteger, 12, 0};
  if (d == "float" || d == "real") return {ftFloat, 12, 0};
  if (d == "boolean" || d == "logical") return {ftBoolean, 2, 0};
  if (d == "shorttext" || d == "string") return {ftString, 255, 0};
  if (d == "widetext" || d == "widestring") return {ftWideString, 512, 0};
  if (d == "currency" || d == "financial" || d == "money") return {ftCurrency, 10, 0};
  if (d == "blob") return {ftBlob, 4, 0};
  if (d == "graphic") return {ftGraphic, 4, 0};
  if (d == "clob" || d == "memo" || d == "text" || d == "longtext" || d == "varchar")
    return {ftMemo, 4, 0};
  return {ftString, 255, 0};
}

// ---- TFResult ----

namespace {
constexpr size_t kChunkSize = size_t{1} << 20;
}

void TFResult::SetColumns(int columns) {
  Clear();
  columns_ = columns;
}

void TFResult::Clear() {
  rows_.clear();
  rows_.shrink_to_fit();
  chunks_.clear();
  chunk_used_ = chunk_size_ = chunk_total_ = 0;
}

const char* TFResult::Store(const std::vector<std::string_view>& cells) {
  const size_t header = (static_cast<size_t>(columns_) + 1) * sizeof(uint32_t);
  size_t total = header;
  for (int c = 0; c < columns_; ++c) total += cells[c].size();
  char* dst;
  if (total > kChunkSize / 4) {
    // A large row gets a chunk of its own; the current chunk keeps filling.
    chunks_.insert(chunks_.begin(), std::unique_ptr<char[]>(new char[total]));
    chunk_total_ += total;
    dst = chunks_.front().get();
  } else {
    if (chunks_.empty() || chunk_used_ + total > chunk_size_) {
      // Written before it is read: not zeroed.
      chunks_.push_back(std::unique_ptr<char[]>(new char[kChunkSize]));
      chunk_size_ = kChunkSize;
      chunk_used_ = 0;
      chunk_total_ += kChunkSize;
    }
    dst = chunks_.back().get() + chunk_used_;
    chunk_used_ += total;
  }
  uint32_t off = static_cast<uint32_t>(header);
  for (int c = 0; c <= columns_; ++c) {
    std::memcpy(dst + c * sizeof(uint32_t), &off, sizeof off);
    if (c < columns_) {
      if (!cells[c].empty()) std::memcpy(dst + off, cells[c].data(), cells[c].size());
      off += static_cast<uint32_t>(cells[c].size());
    }
  }
  return dst;
}

int TFResult::Add(const std::vector<std::string_view>& cells, int64_t rowid) {
  rows_.push_back(Row{Store(cells), rowid, next_bookmark_++});
  return Count() - 1;
}

void TFResult::Insert(int pos, const std::vector<std::string_view>& cells, int64_t rowid) {
  pos = std::clamp(pos, 0, Count());
  rows_.insert(rows_.begin() + pos, Row{Store(cells), rowid, next_bookmark_++});
}

void TFResult::Delete(int pos) {
  if (pos >= 0 && pos < Count()) rows_.erase(rows_.begin() + pos);
}

std::string_view TFResult::Cell(int row, int col) const {
  if (row < 0 || row >= Count() || col < 0 || col >= columns_) return {};
  const char* d = rows_[row].data;
  uint32_t b, e;
  std::memcpy(&b, d + col * sizeof(uint32_t), sizeof b);
  std::memcpy(&e, d + (col + 1) * sizeof(uint32_t), sizeof e);
  return std::string_view(d + b, e - b);
}

size_t TFResult::MemoryUsed() const {
  return chunk_total_ + rows_.capacity() * sizeof(Row);
}

// ---- TFieldValue ----

int TFieldValue::AsInteger() const {
  int v = 0;
  return ParseInt(text_, v) ? v : 0;
}

double TFieldValue::AsFloat() const {
  double v = 0;
  return ParseFloat(text_, v) ? v : 0.0;
}

// ---- TASQLite3BaseQuery ----

TASQLite3BaseQuery::TASQLite3BaseQuery(TASQLite3DB* connection) {
  SetConnection(connection);
}

TASQLite3BaseQuery::~TASQLite3BaseQuery() {
  if (connection_) connection_->Detach(this);
}

void TASQLite3BaseQuery::SetConnection(TASQLite3DB* db) {
  if (db == connection_) return;
  Close();
  if (connection_) connection_->Detach(this);
  connection_ = db;
  if (connection_) connection_->Attach(this);
}

void TASQLite3BaseQuery::SetActive(bool value) {
  if (value)
    Open();
  else
    Close();
}

void TASQLite3BaseQuery::Open() {
  if (!active_) InternalOpen();
}

void TASQLite3BaseQuery::Close() {
  inplace_.reset();
  ordered_.reset();
  active_ = false;
  fields_.clear();
  result_.SetColumns(0);
  cur_ = 0;
  eof_ = bof_ = true;
}

void TASQLite3BaseQuery::InternalOpen() {
  if (!connection_) throw AsgError("no database connection");
  if (!connection_->Connected()) connection_->SetConnected(true);
  const std::string statement = BuildStatement();
  fields_.clear();
  result_.SetColumns(0);
  try {
    if (connection_->Connected()) {
      std::string table, key;
      if (const quorvel::TRowQuery* shown = RowQuerySource())
        ordered_ = quorvel::TOrderedRows::Open(*connection_, *shown, *this);
      else if (InPlaceSource(table, key) && MaxResults == 0 && StartResult == 0 &&
               !(Filtered && !Filter.empty()))
        inplace_ = TInPlaceRows::Open(*connection_, statement, table, key, *this);
      if (!inplace_ && !ordered_) connection_->ExecuteQuery(statement, *this);
    }
  } catch (...) {
    // Rows read before the failure go with the dataset.
    Close();
    throw;
  }
  active_ = true;
  First();
}

void TASQLite3BaseQuery::ExecSQL() {
  Close();
  if (!AutoCommit) {
    Open();
    return;
  }
  if (!connection_) throw AsgError("no database connection");
  connection_->StartTransaction(TransactionType);
  try {
    Open();
  } catch (...) {
    // The statement failed: end the transaction so the next one can begin.
    try {
      connection_->RollBack();
    } catch (...) {
    }
    throw;
  }
  try {
    connection_->Commit();
  } catch (...) {
    try {
      connection_->RollBack();
    } catch (...) {
    }
    throw;
  }
}

void TASQLite3BaseQuery::First() {
  cur_ = 0;
  bof_ = true;
  eof_ = RecordCount() == 0;
}

void TASQLite3BaseQuery::Next() {
  if (cur_ + 1 < RecordCount()) {
    ++cur_;
    bof_ = false;
  } else {
    eof_ = true;
  }
}

void TASQLite3BaseQuery::Prior() {
  if (cur_ > 0 && RecordCount() > 0) {
    --cur_;
    eof_ = false;
  } else {
    bof_ = true;
  }
}

void TASQLite3BaseQuery::Last() {
  cur_ = std::max(0, RecordCount() - 1);
  eof_ = true;
  bof_ = RecordCount() == 0;
}

int TASQLite3BaseQuery::RecordCount() const {
  return inplace_ ? inplace_->Count() : ordered_ ? ordered_->Count() : result_.Count();
}

std::string_view TASQLite3BaseQuery::CellText(int row, int col) const {
  return inplace_   ? inplace_->Cell(row, col)
         : ordered_ ? ordered_->Cell(row, col)
                    : result_.Cell(row, col);
}

int64_t TASQLite3BaseQuery::RowId(int row) const {
  return inplace_ ? inplace_->RowId(row) : ordered_ ? ordered_->RowId(row) : result_.GetRowId(row);
}

void TASQLite3BaseQuery::BeginRowWalk() const {
  if (inplace_) inplace_->BeginWalk();
  if (ordered_) ordered_->BeginWalk();
}

void TASQLite3BaseQuery::EndRowWalk() const {
  if (inplace_) inplace_->EndWalk();
  if (ordered_) ordered_->EndWalk();
}

const std::string& TASQLite3BaseQuery::ReadError() const {
  static const std::string none;
  return inplace_ ? inplace_->Error() : ordered_ ? ordered_->Error() : none;
}

void TASQLite3BaseQuery::SetRecNo(int recno) {
  if (RecordCount() == 0) return;
  cur_ = std::clamp(recno - 1, 0, RecordCount() - 1);
  eof_ = bof_ = false;
}

int TASQLite3BaseQuery::FieldIndex(const std::string& name) const {
  for (size_t i = 0; i < fields_.size(); ++i)
    if (SameText(fields_[i].name, name)) return static_cast<int>(i);
  return -1;
}

TFieldValue TASQLite3BaseQuery::FieldByName(const std::string& name) const {
  const int i = FieldIndex(name);
  if (i < 0) throw AsgError("Field '" + name + "' not found");
  return TFieldValue(&fields_[i], RecordCount() ? CellText(cur_, i) : std::string_view());
}

bool TASQLite3BaseQuery::Locate(const std::string& fields, const std::string& values) {
  auto split = [](const std::string& s) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
      const size_t p = s.find(';', start);
      parts.push_back(s.substr(start, p - start));
      if (p == std::string::npos) break;
      start = p + 1;
    }
    return parts;
  };
  const std::vector<std::string> names = split(fields), vals = split(values);
  std::vector<int> idx;
  for (const std::string& n : names) {
    const int i = FieldIndex(n);
    if (i < 0) throw AsgError("Field '" + n + "' not found");
    idx.push_back(i);
  }
  for (int r = 0; r < RecordCount(); ++r) {
    bool match = true;
    for (size_t k = 0; k < idx.size() && match; ++k)
      match = CellText(r, idx[k]) == (k < vals.size() ? vals[k] : std::string());
    if (match) {
      SetRecNo(r + 1);
      return true;
    }
  }
  return false;
}

// ---- edits ----

namespace {
std::string Quoted(std::string_view v) {
  std::string q = "'";
  for (char c : v) {
    if (c == '\'') q += '\'';
    q += c;
  }
  return q + "'";
}
}  // namespace

const std::string& TASQLite3BaseQuery::EditTable() const {
  throw AsgError("Missing TASQLite3UpdateSQL component");
}

void TASQLite3BaseQuery::AppendRecord(const std::vector<std::string>& values) {
  if (ReadOnly) throw AsgError("Cannot write to a read-only dataset");
  const std::string& table = EditTable();
  if (!connection_ || !active_) throw AsgError("no database connection");
  const bool autoInc = AutoIncFirstField() && !fields_.empty() && fields_[0].type == ftInteger;
  std::string names, vals;
  for (size_t i = 0; i < fields_.size(); ++i) {
    names += (i ? "," : "") + fields_[i].name;
    vals += i ? "," : "";
    vals += autoInc && i == 0 ? "null" : Quoted(i < values.size() ? values[i] : "");
  }
  connection_->ExecDirect("insert into " + table + " (" + names + ") values (" + vals + ")");
  const int64_t rowid = connection_->LastInsertRowId();
  std::vector<std::string> stored(values);
  stored.resize(fields_.size());
  if (autoInc) stored[0] = std::to_string(rowid);
  result_.Add(std::vector<std::string_view>(stored.begin(), stored.end()), rowid);
  Last();
}

void TASQLite3BaseQuery::UpdateRecord(const std::vector<std::string>& values) {
  if (ReadOnly) throw AsgError("Cannot post into a read-only dataset");
  const std::string& table = EditTable();
  if (!connection_ || !active_ || RecordCount() == 0) throw AsgError("no current record");
  std::string sets;
  for (size_t i = 0; i < fields_.size(); ++i)
    sets += (i ? "," : "") + fields_[i].name + "=" + Quoted(i < values.size() ? values[i] : "");
  const int64_t rowid = result_.GetRowId(cur_);
  connection_->ExecDirect("update " + table + " set " + sets +
                          " where rowid=" + Quoted(std::to_string(rowid)));
  std::vector<std::string> stored(values);
  stored.resize(fields_.size());
  result_.Delete(cur_);
  result_.Insert(cur_, std::vector<std::string_view>(stored.begin(), stored.end()), rowid);
}

void TASQLite3BaseQuery::DeleteRecord() {
  if (ReadOnly) throw AsgError("Cannot delete from a read-only dataset");
  const std::string& table = EditTable();
  if (!connection_ || !active_ || RecordCount() == 0) throw AsgError("no current record");
  connection_->ExecDirect("delete from " + table +
                          " where rowid=" + Quoted(std::to_string(result_.GetRowId(cur_))));
  result_.Delete(cur_);
  if (cur_ >= RecordCount()) cur_ = std::max(0, RecordCount() - 1);
  eof_ = RecordCount() == 0;
}

// ---- TASQLite3Query ----

void TASQLite3Query::SetSQL(const std::string& text) {
  Close();
  inPlaceTable_.clear();
  inPlaceKey_.clear();
  rowQuery_.reset();
  sql_ = text;
  params_.clear();
  parsed_.clear();
  if (RawSQL) {
    parsed_ = text;
    return;
  }
  // ":name" outside quoted text is a named parameter and becomes "?", "::"
  // is one literal colon; a bare "?" is an unnamed parameter.
  char quote = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (quote) {
      parsed_ += c;
      if (c == quote) quote = 0;
      continue;
    }
    if (c == '\'' || c == '"' || c == '`') {
      quote = c;
      parsed_ += c;
    } else if (c == '[') {
      quote = ']';
      parsed_ += c;
    } else if (c == ':' && i + 1 < text.size() && text[i + 1] == ':') {
      parsed_ += ':';
      ++i;
    } else if (c == ':' && i + 1 < text.size() &&
               (std::isalnum(static_cast<unsigned char>(text[i + 1])) || text[i + 1] == '_')) {
      size_t j = i + 1;
      while (j < text.size() &&
             (std::isalnum(static_cast<unsigned char>(text[j])) || text[j] == '_'))
        ++j;
      params_.push_back(TParam{text.substr(i + 1, j - i - 1), std::string(), false});
      parsed_ += '?';
      i = j - 1;
    } else if (c == '?') {
      params_.push_back(TParam{});
      parsed_ += c;
    } else {
      parsed_ += c;
    }
  }
}

namespace {
std::string QuotedName(const std::string& name) {
  std::string q = "\"";
  for (char c : name) {
    if (c == '"') q += '"';
    q += c;
  }
  return q + "\"";
}
}  // namespace

void TASQLite3Query::SetInPlaceSQL(const std::string& table, const std::string& key) {
  SetSQL("SELECT * FROM " + QuotedName(table) + " ORDER BY " + QuotedName(key) + " ASC");
  inPlaceTable_ = table;
  inPlaceKey_ = key;
}

void TASQLite3Query::SetRowQuery(const quorvel::TRowQuery& query) {
  if (query.Plain()) {
    SetInPlaceSQL(query.Table, query.Key);
  } else {
    SetSQL(query.Select());
  }
  rowQuery_ = std::make_shared<const quorvel::TRowQuery>(query);
}

const quorvel::TRowQuery* TASQLite3Query::RowQuerySource() const {
  return rowQuery_ && !rowQuery_->Plain() ? rowQuery_.get() : nullptr;
}

bool TASQLite3Query::InPlaceSource(std::string& table, std::string& key) const {
  if (inPlaceTable_.empty()) return false;
  table = inPlaceTable_;
  key = inPlaceKey_;
  return true;
}

void TASQLite3Query::SetParamValues(const std::vector<std::string>& values) {
  for (size_t i = 0; i < params_.size() && i < values.size(); ++i) {
    params_[i].value = values[i];
    params_[i].isNull = false;
  }
}

TParam& TASQLite3Query::ParamByName(const std::string& name) {
  for (TParam& p : params_)
    if (SameText(p.name, name)) return p;
  throw AsgError("Parameter '" + name + "' not found");
}

namespace {
void AppendLimits(std::string& text, int& maxResults, int startResult, const char* sep) {
  if (maxResults == 0 && startResult != 0) maxResults = -1;
  if (maxResults != 0) text += std::string(sep) + "limit " + std::to_string(maxResults);
  if (startResult != 0) text += std::string(sep) + "offset " + std::to_string(startResult);
}
}  // namespace

std::string TASQLite3Query::BuildStatement() {
  if (TrimView(sql_).empty()) throw AsgError("no query specified");
  std::string text = RawSQL ? sql_ : parsed_;
  if (Filtered && !Filter.empty()) text = "select * from (" + text + ") where " + Filter;
  AppendLimits(text, MaxResults, StartResult, " ");
  return text;
}

// ---- TASQLite3Table ----

std::string TASQLite3Table::BuildStatement() {
  if (TableName.empty()) throw AsgError("no table specified");
  std::string text = "select *, rowid as rowid from " + TableName;
  if (Filtered && !Filter.empty()) text += "\n where " + Filter;
  AppendLimits(text, MaxResults, StartResult, "\n ");
  return text;
}

// ---- running a statement into a dataset ----

namespace {

// Makes the engine's text of one column into the field's stored text.
// Numbers that do not parse read as 0; booleans become "True"/"False".
std::string_view Normalize(const TFieldDef& f, std::string_view text, std::string& scratch) {
  switch (f.type) {
    case ftInteger: {
      int v = 0;
      if (text.empty()) return text;
      if (ParseInt(text, v) && std::to_string(v) == text) return text;
      scratch = std::to_string(ParseInt(text, v) ? v : 0);
      return scratch;
    }
    case ftFloat:
    case ftCurrency: {
      double v = 0;
      if (text.empty() || ParseFloat(text, v)) return text;
      scratch = "0";
      return scratch;
    }
    case ftBoolean: {
      if (text.empty()) return text;
      int v = 0;
      const std::string t = Lower(TrimView(text));
      if (t == "true" || (ParseInt(text, v) && v != 0))
        scratch = "True";
      else if (t == "false" || ParseInt(text, v))
        scratch = "False";
      else
        throw AsgError("'" + std::string(text) + "' is not a valid boolean value");
      return scratch;
    }
    default:
      return text;
  }
}

bool IsByteStream(TFieldType t) {
  return t == ftBlob || t == ftMemo || t == ftGraphic;
}

}  // namespace

namespace quorvel {

TColumnMap DescribeColumns(const EngineApi& api, void* stmt, TASQLite3BaseQuery& dataset) {
  const int ncols = api.column_count(stmt);
  TColumnMap map;
  map.fieldOfColumn.assign(ncols, -1);
  if (ncols == 0) return map;
  std::vector<TFieldDef>& fields = dataset.MutableFields();
  fields.clear();
  for (int c = 0; c < ncols; ++c) {
    const char* cname = api.column_name(stmt, c);
    std::string name = cname ? cname : "";
    if (SameText(name, "rowid")) {
      map.rowidColumn = c;
      continue;
    }
    auto taken = [&](const std::string& n) {
      return std::any_of(fields.begin(), fields.end(),
                         [&](const TFieldDef& f) { return SameText(f.name, n); });
    };
    if (taken(name)) {
      std::string candidate;
      for (int k = 1;; ++k) {
        candidate = name + "_" + std::to_string(k);
        if (!taken(candidate)) break;
      }
      name = candidate;
    }
    const char* decl = api.column_decltype(stmt, c);
    TFieldDef f;
    f.name = name;
    f.declared = decl && *decl ? decl : "string";
    const TFieldTypeInfo info = GetFieldInfo(f.declared);
    f.type = dataset.TypeLess ? ftString : info.type;
    f.size = info.size;
    f.precision = info.precision;
    if (!Supported(f.type)) throw AsgError("Fieldtype of Field \"" + f.name + "\" not supported!");
    map.fieldOfColumn[c] = static_cast<int>(fields.size());
    fields.push_back(std::move(f));
  }
  dataset.MutableResult().SetColumns(static_cast<int>(fields.size()));
  return map;
}

void AppendRow(const EngineApi& api, void* stmt, const TColumnMap& map,
               const TASQLite3BaseQuery& dataset, int64_t position, TRowScratch& scratch,
               TFResult& result) {
  const std::vector<TFieldDef>& fields = dataset.FieldDefs();
  scratch.cells.resize(fields.size());
  scratch.texts.resize(fields.size());
  int64_t rowid = position;
  const int ncols = static_cast<int>(map.fieldOfColumn.size());
  for (int c = 0; c < ncols; ++c) {
    if (c == map.rowidColumn) {
      rowid = api.column_int64(stmt, c);
      continue;
    }
    const int fi = map.fieldOfColumn[c];
    const TFieldDef& f = fields[fi];
    std::string_view text;
    if (IsByteStream(f.type) && !dataset.TypeLess) {
      const void* p = api.column_blob(stmt, c);
      const int n = api.column_bytes(stmt, c);
      if (p && n > 0) text = std::string_view(static_cast<const char*>(p), n);
    } else {
      const unsigned char* p = api.column_text(stmt, c);
      const int n = api.column_bytes(stmt, c);
      if (p && n > 0) text = std::string_view(reinterpret_cast<const char*>(p), n);
    }
    scratch.cells[fi] = Normalize(f, text, scratch.texts[fi]);
  }
  result.Add(scratch.cells, rowid);
}

}  // namespace quorvel

void TASQLite3DB::ExecuteQuery(const std::string& statement, TASQLite3BaseQuery& dataset) {
  if (!connected_ || !handle_) throw AsgError("no database connection");
  const EngineApi& api = *api_;
  void* stmt = nullptr;
  if (api.prepare_v2(handle_, statement.c_str(), -1, &stmt, nullptr) != kEngineOk)
    RaiseDatabaseError();
  struct Finalizer {
    const EngineApi& api;
    void*& stmt;
    ~Finalizer() {
      if (stmt) {
        api.reset(stmt);
        api.finalize(stmt);
      }
    }
  } finalizer{api, stmt};
  if (!stmt) return;  // blanks or a comment: no columns, no rows

  if (const std::vector<TParam>* params = dataset.BoundParams()) {
    const int n = std::min<int>(static_cast<int>(params->size()), api.bind_parameter_count(stmt));
    for (int i = 0; i < n; ++i) {
      const TParam& p = (*params)[i];
      const int rc = p.isNull && p.value.empty()
                         ? api.bind_null(stmt, i + 1)
                         : api.bind_text(stmt, i + 1, p.value.data(),
                                         static_cast<int>(p.value.size()), EngineTransient());
      if (rc != kEngineOk) RaiseDatabaseError();
    }
  }

  const TColumnMap map = DescribeColumns(api, stmt, dataset);
  TFResult& result = dataset.MutableResult();
  TRowScratch scratch;
  int rc;
  while ((rc = api.step(stmt)) == kEngineRow)
    AppendRow(api, stmt, map, dataset, result.Count(), scratch, result);
  if (rc != kEngineDone) {
    // A failed step (busy after the time-out, constraint, disk full, corrupt
    // page, ...): the finalize code names it, as the layer has always reported.
    const int code = api.finalize(stmt);
    stmt = nullptr;
    throw AsgError("SQLiteExecute error: " + std::to_string(code ? code : rc));
  }
  api.reset(stmt);
  const int code = api.finalize(stmt);
  stmt = nullptr;
  if (code != kEngineOk) throw AsgError("SQLiteExecute error: " + std::to_string(code));
}
