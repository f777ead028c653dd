// The mark-up formats: HTML (lines of text) and the Rich Text document written
// for both Word and RTF. Cell texts are escaped so that directory data can
// neither inject mark-up nor break the document.
#include <array>
#include <cstdio>

#include "export/textcodec.h"
#include "export/writers.h"

namespace quorvel {
namespace {

// HTML colour roles per template, in role order 0..9.
constexpr std::array<std::array<std::uint32_t, 10>, 8> kHtmlColors = {{
    {0xFF0000, 0xFFFFFF, 0x0000FF, 0x000000, 0xFFFF00, 0x336699, 0xFFFFFF, 0xFFFFCF, 0xFFFFFF,
     0x000000},  // standard
    {0xBBBBBB, 0xFFFFFF, 0xAAAAAA, 0x000000, 0xDDDDDD, 0x000000, 0xFFFFFF, 0xFFFFFF, 0xF3F3F3,
     0x000000},  // black and white
    {0xFF0000, 0x339966, 0x0066CC, 0x000000, 0x923FC1, 0x000000, 0xFF0000, 0x006BCE, 0x007AEC,
     0xFFFFFF},  // classic
    {0xFF0000, 0x339966, 0x0066CC, 0x000000, 0x923FC1, 0xCC0033, 0xFFFFFF, 0xFFFFFF, 0xFAF100,
     0xFFFFFF},  // colourful
    {0xFFFF00, 0x317676, 0xDDE760, 0xFFE760, 0xCCCC39, 0x3A9393, 0xFFFFFF, 0x004040, 0x000000,
     0xFFFFFF},  // dark
    {0xFF0000, 0xFFFFFF, 0x0000FF, 0x000000, 0xFFFF00, 0x808080, 0xFFFFFF, 0xFFFFFF, 0xEEEEEE,
     0x000000},  // gray
    {0xFF0000, 0xFFFFFF, 0x0000FF, 0x000000, 0xAABBAA, 0xCEC6B5, 0x000000, 0xDEE7DE, 0xFFFBF0,
     0x000080},  // money
    {0xFF0000, 0xFFFFFF, 0x0000FF, 0x5F605F, 0xFFFF00, 0xCFC890, 0x000000, 0xFFFFFF, 0xFFFFCF,
     0x000000},  // olive
}};

std::string HtmlColor(std::uint32_t c) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "#%.6X", static_cast<unsigned>(c & 0xFFFFFF));
  return buf;
}

std::string Escaped(std::string_view s, bool attribute = false) {
  std::string r;
  r.reserve(s.size() + 8);
  AppendHtmlEscaped(r, s, attribute);
  return r;
}

class THtmlWriter : public TFormatWriter {
 public:
  explicit THtmlWriter(TWriterContext& ctx)
      : TFormatWriter(ctx), out_(*ctx.Sink), o_(ctx.Engine->HTML) {}

  void Preamble() override {
    out_.Add("<!-- THIS FILE WAS CREATED BY YOX'S EXPORT COMPONENTS FOR TESSICK MARLOW -->");
    out_.Add("<!-- DOCTYPE HTML PUBLIC \"-//W3C//DTD HTML 4.0 TRANSITIONAL//EN\" -->");
    out_.Add("<HTML>");
    out_.Add(" <HEAD>");
    // The cell texts are UTF-8; say so, or browsers guess another encoding.
    out_.Add("  <META HTTP-EQUIV=\"Content-Type\" CONTENT=\"TEXT/HTML; charset=UTF-8\">");
    out_.Add("  <META NAME = \"GENERATOR\" CONTENT = \"Yox's Export Components for Marlow\" >");
    out_.Add("  <META NAME = \"Author\" CONTENT = \"Quennick\" >");
    out_.Add("  <META NAME = \"Description\" CONTENT = \"https://quorvel.example/reports\" >");
    if (o_.Options.Has(hoDisplayTitle)) out_.Add("  <TITLE>" + Escaped(o_.Title) + "</TITLE>");
    out_.Add(" </HEAD>");
    out_.Add(" <BODY BGCOLOR=\"" + Role(1) + "\" LINK=\"" + Role(2) + "\" ALINK=\"" + Role(0) +
             "\" VLINK=\"" + Role(4) + "\" TEXT=\"" + Role(3) + "\">");
    out_.Add(" <FONT COLOR=\"" + Role(3) + "\" FACE=\"" + Escaped(PageFace(), true) + "\">");
  }

  void HeaderText(const std::vector<std::string>& lines) override {
    for (const std::string& l : lines) out_.Add(Escaped(l));
    if (ctx_.Has(xoHeaderLine)) out_.Add("  <HR>");
  }

  void OpenTable() override {
    const std::string border = o_.Options.Has(hoShowGridLines) ? " BORDER=\"1\"" : "";
    out_.Add("  <TABLE WIDTH=\"100%\" CELLPADDING=\"4\" CELLSPACING=\"0\"" + border +
             " BGCOLOR=\"" + Role(7) + "\">");
    out_.Add("  <FONT COLOR=\"" + Role(9) + "\" FACE=\"" + Escaped(TableFace(), true) + "\">");
  }

  void HeaderRow(const TRow& row) override {
    OpenTable();
    out_.Add("   <TR BGCOLOR=\"" + Role(5) + "\">");
    if (row.RowNumbers) out_.Add("    <TD>&nbsp;</TD>");
    const bool bold = o_.Options.Has(hoBoldHeaders);
    for (const TCell& c : row.Cells) {
      line_ = "    <TD" + Attributes(c) + ">";
      line_ += bold ? "<B><FONT COLOR=\"" : "<FONT COLOR=\"";
      line_ += Role(6) + "\"><small>";
      AppendHtmlEscaped(line_, c.Text, false);
      line_ += bold ? "</small></FONT></B></TD>" : "</small></FONT></TD>";
      out_.Add(line_);
    }
    out_.Add("   </TR>");
  }

  void DataRow(const TRow& row) override {
    if (o_.Options.Has(hoOddRowColoring) && row.Visited % 2 == 1)
      out_.Add("   <TR BGCOLOR=\"" + Role(8) + "\">");
    else
      out_.Add("   <TR>");
    if (row.RowNumbers) out_.Add("    <TD ALIGN=\"Right\">" + Escaped(row.RowNumber) + "</TD>");
    for (const TCell& c : row.Cells) {
      line_ = "    <TD";
      line_ += Attributes(c);
      line_ += "><small>";
      if (c.Text.empty()) {
        line_ += "&nbsp;";
      } else if (o_.Options.Has(hoAutoLink) && IsLink(c.Text) && StartsWithScheme(c.Text)) {
        line_ += "<A HREF=\"";
        AppendHtmlEscaped(line_, c.Text, true);
        line_ += "\">";
        AppendHtmlEscaped(line_, *c.Value, false);
        line_ += "</A>";
      } else {
        AppendHtmlEscaped(line_, c.Text, false);
      }
      line_ += "</small></TD>";
      out_.Add(line_);
    }
    out_.Add("   </TR>");
  }

  void CloseTable() override {
    out_.Add("  </FONT>");
    out_.Add("  </TABLE>");
  }

  void Footer(const std::vector<std::string>& lines, const std::string& dateLine) override {
    if (ctx_.Has(xoFooterLine)) out_.Add("  <HR>");
    for (const std::string& l : lines) out_.Add(Escaped(l));
    if (!dateLine.empty()) out_.Add(Escaped(dateLine));
    out_.Add(" </FONT>");
    out_.Add(" </BODY>");
    out_.Add("</HTML>");
  }

  void Finish() override {
    out_.Flush();
    if (!out_.Ok()) throw TExportFailure(ctx_.Sink->Error());
  }

 private:
  // Only an address that begins with one of the link schemes becomes a link;
  // any other text (a "javascript:" address among them) stays plain text.
  static bool StartsWithScheme(const std::string& text) {
    for (const char* scheme : {"http:", "https:", "ftp:", "news:", "nntp:", "mailto:"})
      if (text.rfind(scheme, 0) == 0) return true;
    return false;
  }

  std::string Attributes(const TCell& c) const {
    std::string a;
    if (c.WidthAttr != nullptr) a += " WIDTH=\"" + Escaped(*c.WidthAttr, true) + "\"";
    switch (c.Alignment) {
      case 1:
        a += " ALIGN=\"Left\" ";
        break;
      case 2:
        a += " ALIGN=\"Right\" ";
        break;
      case 3:
        a += " ALIGN=\"Center\" ";
        break;
      default:
        break;
    }
    return a;
  }

  std::string Role(int role) const {
    if (o_.Template != ctCustom) return HtmlColor(kHtmlColors[o_.Template][role]);
    const TkxHTMLColors& c = o_.CustomColors;
    const std::uint32_t custom[10] = {c.ActiveLink,       c.Background,      c.DefaultLink,
                                      c.DefaultText,      c.VisitedLink,     c.HeaderBackground,
                                      c.HeadersFontColor, c.TableBackground, c.TableOddBackground,
                                      c.TableFontColor};
    return HtmlColor(custom[role]);
  }
  std::string PageFace() const {
    return o_.Template == ctCustom ? o_.CustomColors.DefaultFontFace : "Arial,Helvetica";
  }
  std::string TableFace() const {
    return o_.Template == ctCustom ? o_.CustomColors.TableFontFace : "Arial,Helvetica";
  }

  TLineWriter out_;
  const TkxHTMLOptions& o_;
  std::string line_;
};

// RTF colour roles 0..5 per template as red, green, blue.
struct TRgb {
  int r, g, b;
};
constexpr std::array<std::array<TRgb, 6>, 4> kRtfColors = {{
    {{{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {0, 0, 128}, {128, 255, 0}}},
    {{{0, 0, 0}, {255, 0, 0}, {0, 0, 0}, {0, 0, 255}, {0, 0, 0}, {128, 128, 255}}},
    {{{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {255, 0, 0}, {128, 255, 0}}},
    {{{0, 0, 0}, {255, 255, 255}, {0, 0, 0}, {255, 255, 255}, {128, 128, 128}, {128, 255, 128}}},
}};

class TRtfWriter : public TFormatWriter {
 public:
  explicit TRtfWriter(TWriterContext& ctx) : TFormatWriter(ctx), o_(ctx.Engine->DOC_RTF) {}

  void Preamble() override {
    const TkxRTFColors& s = o_.CustomSettings;
    buf_ = "{\\rtf1\\ansi\\deff0\\deftab720\r\n{\\fonttbl";
    FontEntry(0, s.DefaultFont);
    FontEntry(1, s.HeaderFont);
    FontEntry(2, s.TableFont);
    buf_ += "}\r\n{\\colortbl";
    for (int role : {0, 1, 2, 4, 3, 5}) {
      const TRgb c = Color(role);
      buf_ += "\\red" + std::to_string(c.r) + "\\green" + std::to_string(c.g) + "\\blue" +
              std::to_string(c.b) + ";";
    }
    buf_ += "}\r\n";
    buf_ += "\\margl" + std::to_string(o_.LeftMargin) + "\\margr" + std::to_string(o_.RightMargin) +
            "\\margt" + std::to_string(o_.TopMargin) + "\\margb" + std::to_string(o_.BottomMargin);
  }

  void HeaderText(const std::vector<std::string>& lines) override {
    for (const std::string& l : lines) Paragraph(l);
  }

  void Prologue() override {
    buf_ +=
        "\\par \\pard\\plain\\cgrid\r\n"
        "{\\stylesheet{\\nowidctlpar\\widctlpar\\adjustright \\fs20\\cgrid \\snext0 Normal;}\r\n"
        "{\\*\\cs10 \\additive Default Paragraph Font;}}\r\n"
        "{\\*\\pnseclvl1\\pnucrm\\pnstart1\\pnindent720\\pnhang{\\pntxta.}}\r\n"
        "{\\*\\pnseclvl2\\pnucltr\\pnstart1\\pnindent720\\pnhang{\\pntxta .}}\r\n"
        "{\\*\\pnseclvl3\\pndec\\pnstart1\\pnindent720\\pnhang{\\pntxta.}}\r\n"
        "{\\*\\pnseclvl4\\pnlcltr\\pnstart1\\pnindent720\\pnhang{\\pntxta)}}\r\n"
        "{\\*\\pnseclvl5\\pndec\\pnstart1\\pnindent720\\pnhang{\\pntxtb (}{\\pntxta)}}\r\n"
        "{\\*\\pnseclvl6\\pnlcltr\\pnstart1\\pnindent720\\pnhang{\\pntxtb (}{\\pntxta )}}\r\n"
        "{\\*\\pnseclvl7\\pnlcrm\\pnstart1\\pnindent720\\pnhang{\\pntxtb (}{\\pntxta)}}\r\n"
        "{\\*\\pnseclvl8\\pnlcltr\\pnstart1\\pnindent720\\pnhang{\\pntxtb (}{\\pntxta)}}\r\n"
        "{\\*\\pnseclvl9\\pnlcrm\\pnstart1\\pnindent720\\pnhang{\\pntxtb (}{\\pntxta )}}\r\n";
    // The row definition depends only on the shading; build the three once.
    const int n = ctx_.ColumnCount + (ctx_.Has(xoRowNumbers) ? 1 : 0);
    headerDef_ = RowDefinition(n, " \\clcbpat3");
    evenDef_ = RowDefinition(n, " \\clcbpat4");
    oddDef_ = RowDefinition(n, " \\clcbpat5");
  }

  void HeaderRow(const TRow& row) override {
    buf_ += headerDef_;
    buf_ += "\\pard\\ri-123\\nowidctlpar\\widctlpar\\intbl\\adjustright {\\f1";
    buf_ += FontCode(o_.CustomSettings.HeaderFont);
    buf_ += "\\cf1\\cgrid0 ";
    if (row.RowNumbers) buf_ += " \\cell ";
    Cells(row);
  }

  void DataRow(const TRow& row) override {
    const bool odd = o_.Options.Has(roOddRowColoring) && row.Visited % 2 == 1;
    buf_ += odd ? oddDef_ : evenDef_;
    buf_ += "\\pard\\ri-123\\nowidctlpar\\widctlpar\\intbl\\adjustright {\\f2";
    buf_ += FontCode(o_.CustomSettings.TableFont);
    buf_ += "\\cf2\\cgrid0 ";
    if (row.RowNumbers) {
      AppendRtfEscaped(buf_, row.RowNumber);
      buf_ += "\\cell ";
    }
    Cells(row);
  }

  void CloseTable() override { buf_ += "\\pard\\nowidctlpar\\widctlpar\\adjustright {\r\n"; }

  void Footer(const std::vector<std::string>& lines, const std::string& dateLine) override {
    for (const std::string& l : lines) Paragraph(l);
    if (!dateLine.empty()) Paragraph(dateLine);
  }

  void Finish() override {
    buf_ += "}}";
    Flush(true);
  }

 private:
  void Flush(bool always) {
    if ((always || buf_.size() >= (1u << 20)) && !buf_.empty()) {
      if (!ctx_.Sink->Write(buf_)) throw TExportFailure(ctx_.Sink->Error());
      buf_.clear();
    }
  }

  void Cells(const TRow& row) {
    for (const TCell& c : row.Cells) {
      switch (c.Alignment) {
        case 1:
          buf_ += "\\ql ";
          break;
        case 2:
          buf_ += "\\qr ";
          break;
        case 3:
          buf_ += "\\qc ";
          break;
        default:
          break;
      }
      AppendRtfEscaped(buf_, c.Text);
      buf_ += "\\cell ";
    }
    buf_ += "}\\pard \\nowidctlpar\\widctlpar\\intbl\\adjustright {\\row}\r\n";
    Flush(false);
  }

  void Paragraph(const std::string& text) {
    buf_ += "\\par \\pard\\plain\\f0";
    buf_ += FontCode(o_.CustomSettings.DefaultFont);
    buf_ += "\\cf0 ";
    AppendRtfEscaped(buf_, text);
    buf_ += "\r\n";
  }

  void FontEntry(int number, const TkxFont& f) {
    static const char* kFamily[] = {"fdontcare", "froman",  "fswiss",
                                    "fmodern",   "fscript", "fdecorative"};
    const char* family =
        f.FamilyClass >= 0 && f.FamilyClass <= 5 ? kFamily[f.FamilyClass] : "froman";
    std::string charset = "fcharset1";
    if (f.CharSet == 0 || f.CharSet == 2 || f.CharSet == 128 || f.CharSet == 255)
      charset = "fcharset" + std::to_string(f.CharSet);
    buf_ += "{\\f" + std::to_string(number) + "\\" + family + "\\" + charset + " ";
    AppendRtfEscaped(buf_, f.Name);
    buf_ += ";}";
  }

  static std::string FontCode(const TkxFont& f) {
    std::string code = "\\fs" + std::to_string(FontPointSize(f) * 2);
    if (f.Bold) code += "\\b";
    if (f.Italic) code += "\\i";
    if (f.Underline) code += "\\ul";
    if (f.StrikeOut) code += "\\strike";
    return code;
  }

  TRgb Color(int role) const {
    if (o_.Template != rtCustom) return kRtfColors[o_.Template][role];
    const TkxRTFColors& s = o_.CustomSettings;
    const std::uint32_t v[6] = {s.DefaultFont.Color, s.HeaderFont.Color, s.TableFont.Color,
                                s.TableBackground,   s.HeaderBackground, s.TableOddBackground};
    return TRgb{static_cast<int>(v[role] & 0xFF), static_cast<int>((v[role] >> 8) & 0xFF),
                static_cast<int>((v[role] >> 16) & 0xFF)};
  }

  // Right edge of cell k in twips: (k + 1) * 100 / P * CellWidth, halves to even.
  long long CellEdge(int k) const {
    const long long num = static_cast<long long>(k + 1) * 100 * o_.CellWidth;
    const long long den = kxPixelsPerInch;
    long long q = num / den;
    const long long r = num % den;
    if (2 * r > den || (2 * r == den && (q % 2) != 0)) ++q;
    return q;
  }

  std::string RowDefinition(int cells, const char* shading) const {
    std::string d = "\\trowd\\trgaph108\\trrh260\\trleft0";
    for (int k = 0; k < cells; ++k) {
      d += "\\clvertalc";
      if (o_.Options.Has(roShowGridLines))
        d += "\\clbrdrt\\brdrs\\brdrw10\\clbrdrl\\brdrs\\brdrw10\\clbrdrb\\brdrs\\brdrw10"
             "\\clbrdrr\\brdrs\\brdrw10";
      d += shading;
      d += "\\cltxlrtb\\cellx" + std::to_string(CellEdge(k));
    }
    return d;
  }

  const TkxRTFOptions& o_;
  std::string buf_;
  std::string headerDef_, evenDef_, oddDef_;
};

}  // namespace

std::unique_ptr<TFormatWriter> MakeMarkupWriter(TWriterContext& ctx) {
  if (ctx.Type == xtHTML) return std::make_unique<THtmlWriter>(ctx);
  return std::make_unique<TRtfWriter>(ctx);
}

}  // namespace quorvel
