// The grid's columns model: defaults inside and outside a grid, assigned
// values and change reports, stored-property rules, font following, field
// binding, copies, the default width, the columns text, the older column
// list, and the default (passthrough) columns.
#include <gtest/gtest.h>

#include <QFontMetrics>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "table/DbfTable.h"
#include "tests/support/DbfBuilder.h"
#include "tests/support/TableFixture.h"
#include "tests/support/TempDir.h"
#include "views/GridColumns.h"

namespace vz::views {
namespace {

// A grid as the columns see it, with every answer settable and every call
// counted.
class FakeGrid : public ColumnsOwner {
 public:
  QColor color{250, 250, 200};
  QColor fixedColor{40, 90, 140};
  QFont font{QStringLiteral("DejaVu Sans"), 11};
  QFont titleFont{QStringLiteral("DejaVu Serif"), 9};
  bool titles = true;
  int defaultColWidth = 77;
  bool window = false;
  bool loading = false;
  data::DataSet* dataSet = nullptr;
  bool linkActive = false;
  std::vector<data::Field*> map;

  int changes = 0;
  std::vector<std::string> calls;

  QColor GridColor() const override { return color; }
  QColor GridFixedColor() const override { return fixedColor; }
  QFont GridFont() const override { return font; }
  QFont GridTitleFont() const override { return titleFont; }
  bool GridHasTitles() const override { return titles; }
  int GridDefaultColWidth() const override { return defaultColWidth; }
  bool GridHasWindow() const override { return window; }
  bool GridLoading() const override { return loading; }
  data::DataSet* GridDataSet() const override { return dataSet; }
  bool GridLinkActive() const override { return linkActive; }
  data::Field* GridMappedField(int column) const override {
    return column >= 0 && column < static_cast<int>(map.size())
               ? map[static_cast<std::size_t>(column)]
               : nullptr;
  }
  void GridBeginLayout() override { calls.push_back("begin"); }
  void GridEndLayout() override { calls.push_back("end"); }
  void GridColumnsChanged() override {
    ++changes;
    calls.push_back("changed");
  }
};

class ColumnsTest : public ::testing::Test {
 protected:
  void SetUp() override { test::ResetAll(); }
  void TearDown() override {
    table_.reset();
    test::ResetAll();
  }

  // An open table with CHEATNAME C 35, LEVEL N 3 and ACTIVE L, bound to
  // the fake grid with an active link.
  DbfTable& OpenTable() {
    test::DbfBuilder b;
    b.Field("CHEATNAME", 'C', 35).Field("LEVEL", 'N', 3).Field("ACTIVE", 'L', 1);
    b.Record({"Infinite ammo", "1", "T"}).Record({"God mode", "2", "F"});
    b.Write(dir_.File("games.dbf"));
    table_ = std::make_unique<DbfTable>();
    table_->ShowProgress = false;
    table_->SetDbfFileName(dir_.File("games.dbf"));
    table_->Open();
    grid_.dataSet = table_.get();
    grid_.linkActive = true;
    return *table_;
  }
  data::Field* Field(const std::string& name) { return table_->FindField(name); }
  std::vector<std::string> FieldOrder() {
    std::vector<std::string> out;
    for (const auto& f : table_->Fields()) out.push_back(f->FieldName());
    return out;
  }

  test::TempDir dir_;
  std::unique_ptr<DbfTable> table_;
  FakeGrid grid_;
  GridColumns columns_{&grid_};
};

QFont Font(const char* family, int points, bool bold = false) {
  QFont f{QString::fromLatin1(family), points};
  f.setBold(bold);
  return f;
}

// ---------------------------------------------------------------------------
// Outside a grid and inside one

TEST_F(ColumnsTest, ColumnOutsideAnyGridHasTheFixedDefaults) {
  GridColumn alone;
  GridColumns gridless(nullptr);
  GridColumn* inCollection = gridless.Add();
  for (GridColumn* c : {&alone, inCollection}) {
    SCOPED_TRACE(c == &alone ? "no collection" : "collection without grid");
    EXPECT_EQ(c->Grid(), nullptr);
    EXPECT_EQ(c->Color(), WindowColor());
    EXPECT_EQ(c->Alignment(), TextAlignment::taLeftJustify);
    EXPECT_EQ(c->Width(), 64);
    EXPECT_FALSE(c->ReadOnly());
    EXPECT_EQ(c->ButtonStyle(), ColumnButtonStyle::cbsAuto);
    EXPECT_EQ(c->DropDownRows(), 7);
    EXPECT_EQ(c->Title().Color(), ButtonFaceColor());
    EXPECT_EQ(c->Title().Alignment(), TextAlignment::taLeftJustify);
    EXPECT_TRUE(c->AssignedValues().Empty());
    // Without a grid the title font follows the column's font.
    c->SetFont(Font("DejaVu Serif", 15));
    c->SetFontColor(QColor(1, 2, 3));
    EXPECT_EQ(c->Title().Font(), Font("DejaVu Serif", 15));
    EXPECT_EQ(c->Title().FontColor(), QColor(1, 2, 3));
    // A width is kept only when it differs from the 64 pixels.
    c->SetWidth(64);
    EXPECT_FALSE(c->AssignedValues().Has(ColumnValue::cvWidth));
    c->SetWidth(90);
    EXPECT_EQ(c->Width(), 90);
  }
}

TEST_F(ColumnsTest, ColumnInsideGridTakesTheGridDefaultsAndFollowsThem) {
  GridColumn* c = columns_.Add();
  EXPECT_EQ(c->Grid(), &grid_);
  EXPECT_EQ(c->Color(), grid_.color);
  EXPECT_EQ(c->Font(), grid_.font);
  EXPECT_EQ(c->Title().Color(), grid_.fixedColor);
  EXPECT_EQ(c->Title().Font(), grid_.titleFont);
  EXPECT_EQ(c->Width(), grid_.defaultColWidth);  // no field
  grid_.color = QColor(10, 20, 30);
  grid_.fixedColor = QColor(30, 20, 10);
  grid_.defaultColWidth = 55;
  EXPECT_EQ(c->Color(), QColor(10, 20, 30));
  EXPECT_EQ(c->Title().Color(), QColor(30, 20, 10));
  EXPECT_EQ(c->Width(), 55);
}

// ---------------------------------------------------------------------------
// The collection

TEST_F(ColumnsTest, AddingMakesTheColumnUnderTheLayoutLockAndLaysOutOutsideLoading) {
  columns_.Add();
  EXPECT_EQ(grid_.calls, (std::vector<std::string>{"begin", "changed", "end"}));
  grid_.calls.clear();
  grid_.loading = true;
  columns_.AddPassthrough();
  EXPECT_EQ(grid_.calls, (std::vector<std::string>{"begin", "end"}));
  EXPECT_EQ(columns_.Count(), 2);
}

TEST_F(ColumnsTest, PersistentOrDefaultColumnsByTheFirstItem) {
  EXPECT_FALSE(columns_.Persistent());  // empty
  columns_.AddPassthrough();
  columns_.Add();
  EXPECT_FALSE(columns_.Persistent());  // the first is a passthrough column
  EXPECT_TRUE(columns_.IsDefaultColumns());
  columns_.Delete(0);
  EXPECT_TRUE(columns_.Persistent());
  EXPECT_FALSE(columns_.IsDefaultColumns());
}

TEST_F(ColumnsTest, UpdatesFoldChangesAndLoadingSilencesThem) {
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  columns_.BeginUpdate();
  c->SetColor(Qt::red);
  c->SetReadOnly(true);
  columns_.BeginUpdate();
  c->SetAlignment(TextAlignment::taCenter);
  columns_.EndUpdate();
  EXPECT_EQ(grid_.changes, 0);
  columns_.EndUpdate();
  EXPECT_EQ(grid_.changes, 1);
  // An update in which nothing changed reports nothing.
  columns_.BeginUpdate();
  c->SetColor(Qt::red);
  columns_.EndUpdate();
  EXPECT_EQ(grid_.changes, 1);
  grid_.loading = true;
  c->SetColor(Qt::blue);
  c->SetWidth(120);
  EXPECT_EQ(grid_.changes, 1);
  EXPECT_EQ(c->Color(), QColor(Qt::blue));  // stored all the same
}

TEST_F(ColumnsTest, MovingAndDeletingReportAChange) {
  GridColumn* a = columns_.Add();
  GridColumn* b = columns_.Add();
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  c->SetIndex(0);
  EXPECT_EQ(columns_[0], c);
  EXPECT_EQ(columns_[1], a);
  EXPECT_EQ(columns_[2], b);
  columns_.Move(1, 2);
  EXPECT_EQ(b->Index(), 1);
  EXPECT_EQ(a->Index(), 2);
  EXPECT_EQ(grid_.changes, 2);
  EXPECT_THROW(columns_.Move(0, 3), std::out_of_range);
  columns_.Delete(1);
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_EQ(columns_[0], c);
  EXPECT_EQ(columns_[1], a);
  EXPECT_EQ(grid_.changes, 3);
}

// ---------------------------------------------------------------------------
// Getter and setter rule

TEST_F(ColumnsTest, SettersStoreFlagAndReportUnlessGivenTheAssignedValue) {
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  struct Case {
    const char* name;
    ColumnValue flag;
    std::function<void()> setA, setB;
  };
  const std::vector<Case> cases{
      {"Color", ColumnValue::cvColor, [&] { c->SetColor(Qt::green); },
       [&] { c->SetColor(Qt::cyan); }},
      {"Font", ColumnValue::cvFont, [&] { c->SetFont(Font("DejaVu Sans", 20)); },
       [&] { c->SetFont(Font("DejaVu Sans", 21)); }},
      {"FontColor", ColumnValue::cvFont, [&] { c->SetFontColor(Qt::magenta); },
       [&] { c->SetFontColor(Qt::gray); }},
      {"Alignment", ColumnValue::cvAlignment,
       [&] { c->SetAlignment(TextAlignment::taRightJustify); },
       [&] { c->SetAlignment(TextAlignment::taCenter); }},
      {"ReadOnly", ColumnValue::cvReadOnly, [&] { c->SetReadOnly(true); },
       [&] { c->SetReadOnly(false); }},
      {"Title.Color", ColumnValue::cvTitleColor, [&] { c->Title().SetColor(Qt::darkRed); },
       [&] { c->Title().SetColor(Qt::darkGreen); }},
      {"Title.Caption", ColumnValue::cvTitleCaption, [&] { c->Title().SetCaption("One"); },
       [&] { c->Title().SetCaption("Two"); }},
      {"Title.Alignment", ColumnValue::cvTitleAlignment,
       [&] { c->Title().SetAlignment(TextAlignment::taCenter); },
       [&] { c->Title().SetAlignment(TextAlignment::taRightJustify); }},
      {"Title.Font", ColumnValue::cvTitleFont,
       [&] { c->Title().SetFont(Font("DejaVu Serif", 30)); },
       [&] { c->Title().SetFont(Font("DejaVu Serif", 31)); }},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.name);
    const int before = grid_.changes;
    EXPECT_FALSE(c->AssignedValues().Has(k.flag));
    k.setA();
    EXPECT_TRUE(c->AssignedValues().Has(k.flag));
    EXPECT_EQ(grid_.changes, before + 1);
    k.setA();  // the value already assigned
    EXPECT_EQ(grid_.changes, before + 1);
    k.setB();
    EXPECT_EQ(grid_.changes, before + 2);
    c->RestoreDefaults();
    grid_.changes = before + 2;
  }
}

TEST_F(ColumnsTest, GettersReturnTheAssignedValueElseTheDefault) {
  GridColumn* c = columns_.Add();
  c->SetFieldName("LEVEL");
  // Assigning the default value still assigns it: the grid's later changes
  // no longer show.
  c->SetColor(grid_.color);
  c->Title().SetColor(grid_.fixedColor);
  c->Title().SetCaption("LEVEL");
  const QColor oldColor = grid_.color, oldFixed = grid_.fixedColor;
  grid_.color = Qt::black;
  grid_.fixedColor = Qt::white;
  EXPECT_EQ(c->Color(), oldColor);
  EXPECT_EQ(c->Title().Color(), oldFixed);
  c->SetFieldName("ACTIVE");
  EXPECT_EQ(c->Title().Caption(), "LEVEL");
  // Unassigned: the default.
  GridColumn* d = columns_.Add();
  d->SetFieldName("ACTIVE");
  EXPECT_EQ(d->Color(), QColor(Qt::black));
  EXPECT_EQ(d->Title().Color(), QColor(Qt::white));
  EXPECT_EQ(d->Title().Caption(), "ACTIVE");
}

TEST_F(ColumnsTest, WidthAlwaysReportsAndIsKeptOnlyWhenAssignedOrNotTheDefault) {
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  c->SetWidth(grid_.defaultColWidth);  // the default, never assigned
  EXPECT_EQ(grid_.changes, 1);
  EXPECT_FALSE(c->AssignedValues().Has(ColumnValue::cvWidth));
  grid_.defaultColWidth = 60;
  EXPECT_EQ(c->Width(), 60);  // still follows the default
  c->SetWidth(100);
  EXPECT_TRUE(c->AssignedValues().Has(ColumnValue::cvWidth));
  c->SetWidth(100);  // the same width: reported again
  EXPECT_EQ(grid_.changes, 3);
  c->SetWidth(60);  // now the default, but assigned before: kept
  EXPECT_EQ(grid_.changes, 4);
  grid_.defaultColWidth = 80;
  EXPECT_EQ(c->Width(), 60);
}

TEST_F(ColumnsTest, ButtonStyleDropDownRowsAndPickList) {
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  c->SetButtonStyle(ColumnButtonStyle::cbsAuto);
  c->SetDropDownRows(7);
  EXPECT_EQ(grid_.changes, 0);
  c->SetButtonStyle(ColumnButtonStyle::cbsEllipsis);
  c->SetDropDownRows(12);
  EXPECT_EQ(grid_.changes, 2);
  EXPECT_FALSE(c->HasPickList());
  EXPECT_TRUE(c->PickList().isEmpty());  // made when first asked for
  EXPECT_TRUE(c->HasPickList());
  c->PickList() << "Easy"
                << "Hard";
  EXPECT_EQ(c->PickList(), (QStringList{"Easy", "Hard"}));
}

// ---------------------------------------------------------------------------
// Stored with the form

TEST_F(ColumnsTest, ColumnPropertiesStoredOnlyWhenTheTableSays) {
  OpenTable();
  GridColumn* c = columns_.Add();
  c->SetFieldName("CHEATNAME");
  // Always stored.
  EXPECT_TRUE(c->IsFieldNameStored());
  EXPECT_TRUE(c->IsTitleStored());
  EXPECT_TRUE(c->IsPickListStored());
  // Nothing assigned: nothing else stored.
  EXPECT_FALSE(c->IsColorStored());
  EXPECT_FALSE(c->IsWidthStored());
  EXPECT_FALSE(c->IsFontStored());
  EXPECT_FALSE(c->IsAlignmentStored());
  EXPECT_FALSE(c->IsReadOnlyStored());
  EXPECT_FALSE(c->IsButtonStyleStored());
  EXPECT_FALSE(c->IsDropDownRowsStored());
  // Assigned, but equal to the default: not stored (the font is).
  c->SetColor(grid_.color);
  c->SetAlignment(TextAlignment::taLeftJustify);
  c->SetReadOnly(false);
  c->SetFont(grid_.font);
  EXPECT_FALSE(c->IsColorStored());
  EXPECT_FALSE(c->IsAlignmentStored());
  EXPECT_FALSE(c->IsReadOnlyStored());
  EXPECT_TRUE(c->IsFontStored());
  // Different from the default: stored.
  c->SetColor(Qt::red);
  c->SetAlignment(TextAlignment::taRightJustify);
  c->SetReadOnly(true);
  c->SetWidth(c->DefaultWidth() + 9);
  c->SetButtonStyle(ColumnButtonStyle::cbsNone);
  c->SetDropDownRows(3);
  EXPECT_TRUE(c->IsColorStored());
  EXPECT_TRUE(c->IsAlignmentStored());
  EXPECT_TRUE(c->IsReadOnlyStored());
  EXPECT_TRUE(c->IsWidthStored());
  EXPECT_TRUE(c->IsButtonStyleStored());
  EXPECT_TRUE(c->IsDropDownRowsStored());
  // The comparison is with the default of the moment.
  grid_.color = Qt::red;
  EXPECT_FALSE(c->IsColorStored());
  const int width = c->Width();
  grid_.font = Font("DejaVu Sans", 30);  // a larger "0" only changes a default width
  c->SetFont(grid_.font);
  EXPECT_EQ(c->Width(), width);
  EXPECT_TRUE(c->IsWidthStored());
}

TEST_F(ColumnsTest, TitlePropertiesStoredOnlyWhenTheTableSays) {
  OpenTable();
  GridColumn* c = columns_.Add();
  c->SetFieldName("CHEATNAME");
  ColumnTitle& t = c->Title();
  EXPECT_FALSE(t.IsCaptionStored());
  EXPECT_FALSE(t.IsAlignmentStored());
  EXPECT_FALSE(t.IsColorStored());
  EXPECT_FALSE(t.IsFontStored());
  // A caption equal to the field's name is not stored; another spelling is.
  t.SetCaption("CHEATNAME");
  EXPECT_TRUE(c->AssignedValues().Has(ColumnValue::cvTitleCaption));
  EXPECT_FALSE(t.IsCaptionStored());
  t.SetCaption("Cheatname");
  EXPECT_TRUE(t.IsCaptionStored());
  t.SetAlignment(TextAlignment::taLeftJustify);
  t.SetColor(grid_.fixedColor);
  EXPECT_FALSE(t.IsAlignmentStored());
  EXPECT_FALSE(t.IsColorStored());
  t.SetAlignment(TextAlignment::taCenter);
  t.SetColor(Qt::yellow);
  EXPECT_TRUE(t.IsAlignmentStored());
  EXPECT_TRUE(t.IsColorStored());
  t.SetFont(grid_.titleFont);
  EXPECT_TRUE(t.IsFontStored());
  // Without a bound field the default caption is the column's FieldName.
  GridColumn* loose = columns_.Add();
  loose->SetFieldName("NOSUCH");
  EXPECT_EQ(loose->Field(), nullptr);
  loose->Title().SetCaption("NOSUCH");
  EXPECT_FALSE(loose->Title().IsCaptionStored());
}

// ---------------------------------------------------------------------------
// Fonts

TEST_F(ColumnsTest, FontsFollowTheGridUntilAssigned) {
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  grid_.font = Font("DejaVu Sans Mono", 13);
  grid_.titleFont = Font("DejaVu Serif", 14, true);
  EXPECT_EQ(c->Font(), grid_.font);
  EXPECT_EQ(c->Title().Font(), grid_.titleFont);
  EXPECT_EQ(grid_.changes, 0);  // following is no change
  c->SetFont(Font("DejaVu Sans", 8));
  c->Title().SetFont(Font("DejaVu Sans", 9));
  grid_.font = Font("DejaVu Serif", 22);
  grid_.titleFont = Font("DejaVu Serif", 23);
  columns_.RefreshDefaultFonts();
  EXPECT_EQ(c->Font(), Font("DejaVu Sans", 8));
  EXPECT_EQ(c->Title().Font(), Font("DejaVu Sans", 9));
  // The font colour belongs to the font: assigning one keeps the other as
  // it showed.
  GridColumn* d = columns_.Add();
  d->SetFontColor(Qt::blue);
  EXPECT_TRUE(d->IsFontStored());
  EXPECT_EQ(d->Font(), grid_.font);
  grid_.font = Font("DejaVu Sans", 5);
  EXPECT_EQ(d->Font(), Font("DejaVu Serif", 22));
  EXPECT_EQ(d->FontColor(), QColor(Qt::blue));
  EXPECT_EQ(d->Title().FontColor(), WindowTextColor());
}

// ---------------------------------------------------------------------------
// Field binding

TEST_F(ColumnsTest, FieldNameLooksTheFieldUpInTheGridsDataSet) {
  OpenTable();
  GridColumn* c = columns_.Add();
  grid_.changes = 0;
  c->SetFieldName("cheatname");
  EXPECT_EQ(c->Field(), Field("CHEATNAME"));
  EXPECT_EQ(c->FieldName(), "CHEATNAME");  // the field's own spelling
  EXPECT_TRUE(c->AssignedValues().Has(ColumnValue::cvFieldName));
  EXPECT_EQ(grid_.changes, 1);
  c->SetFieldName("NOSUCH");
  EXPECT_EQ(c->Field(), nullptr);
  EXPECT_EQ(c->FieldName(), "NOSUCH");
  // Binding a field gives the column its name; unbinding keeps the name.
  c->SetField(Field("LEVEL"));
  EXPECT_EQ(c->FieldName(), "LEVEL");
  c->SetField(nullptr);
  EXPECT_EQ(c->FieldName(), "LEVEL");
  // ... and the next reading looks it up again.
  EXPECT_EQ(c->Field(), Field("LEVEL"));
  // While loading the name is only stored; the field is found when needed.
  grid_.loading = true;
  c->SetFieldName("active");
  EXPECT_EQ(c->FieldName(), "active");
  EXPECT_EQ(c->Field(), Field("ACTIVE"));
  EXPECT_EQ(c->FieldName(), "ACTIVE");
}

TEST_F(ColumnsTest, FieldIsLookedUpOnlyInAnOpenDataSetOrOneWithPersistentFields) {
  DbfTable closed;
  grid_.dataSet = &closed;
  GridColumn* c = columns_.Add();
  c->SetFieldName("CHEATNAME");
  EXPECT_EQ(c->Field(), nullptr);
  // Default field objects of a closed data set are not used.
  closed.AddField(std::make_unique<data::StringField>("CHEATNAME", 35))->SetDefault(true);
  EXPECT_EQ(c->Field(), nullptr);
  closed.Fields().clear();
  auto* persistent = closed.AddField(std::make_unique<data::StringField>("CHEATNAME", 35));
  EXPECT_EQ(c->Field(), persistent);
  EXPECT_EQ(c->Title().Caption(), "CHEATNAME");
  // No grid, no data set: never bound.
  GridColumn alone;
  alone.SetFieldName("CHEATNAME");
  EXPECT_EQ(alone.Field(), nullptr);
  EXPECT_EQ(alone.Title().Caption(), "CHEATNAME");
}

// ---------------------------------------------------------------------------
// Restoring defaults and copying

TEST_F(ColumnsTest, RestoreDefaultsClearsAssignedValuesInOneChange) {
  OpenTable();
  GridColumn* c = columns_.Add();
  c->SetFieldName("CHEATNAME");
  c->SetColor(Qt::red);
  c->SetWidth(333);
  c->SetFont(Font("DejaVu Sans", 20));
  c->SetAlignment(TextAlignment::taCenter);
  c->SetReadOnly(true);
  c->SetButtonStyle(ColumnButtonStyle::cbsEllipsis);
  c->SetDropDownRows(3);
  c->PickList() << "a";
  c->Title().SetCaption("Cheatname");
  c->Title().SetColor(Qt::green);
  c->Title().SetAlignment(TextAlignment::taRightJustify);
  c->Title().SetFont(Font("DejaVu Serif", 30));
  grid_.changes = 0;
  c->RestoreDefaults();
  EXPECT_EQ(grid_.changes, 1);
  EXPECT_TRUE(c->AssignedValues().Empty());
  EXPECT_EQ(c->Color(), grid_.color);
  EXPECT_EQ(c->Width(), c->DefaultWidth());
  EXPECT_EQ(c->Font(), grid_.font);
  EXPECT_EQ(c->Alignment(), TextAlignment::taLeftJustify);
  EXPECT_FALSE(c->ReadOnly());
  EXPECT_EQ(c->ButtonStyle(), ColumnButtonStyle::cbsAuto);
  EXPECT_FALSE(c->HasPickList());
  EXPECT_EQ(c->Title().Caption(), "CHEATNAME");
  EXPECT_EQ(c->Title().Color(), grid_.fixedColor);
  EXPECT_EQ(c->Title().Alignment(), TextAlignment::taLeftJustify);
  EXPECT_EQ(c->Title().Font(), grid_.titleFont);
  // Kept: the field and the drop-down rows.
  EXPECT_EQ(c->Field(), Field("CHEATNAME"));
  EXPECT_EQ(c->DropDownRows(), 3);
}

TEST_F(ColumnsTest, AssignCopiesFieldNameAssignedValuesAndTitleInOneUpdate) {
  OpenTable();
  GridColumn* src = columns_.Add();
  src->SetFieldName("LEVEL");
  src->SetColor(Qt::red);
  src->SetFont(Font("DejaVu Sans", 19));
  src->SetFontColor(Qt::darkBlue);
  src->SetReadOnly(true);
  src->SetButtonStyle(ColumnButtonStyle::cbsNone);
  src->SetDropDownRows(4);
  src->PickList() << "1"
                  << "2";
  src->Title().SetCaption("Level");
  src->Title().SetAlignment(TextAlignment::taCenter);
  GridColumn* dst = columns_.Add();
  dst->SetFieldName("CHEATNAME");
  dst->SetWidth(250);
  dst->SetAlignment(TextAlignment::taRightJustify);
  dst->Title().SetColor(Qt::yellow);
  grid_.changes = 0;
  dst->Assign(*src);
  EXPECT_EQ(grid_.changes, 1);
  EXPECT_EQ(dst->Field(), Field("LEVEL"));
  EXPECT_EQ(dst->AssignedValues(), src->AssignedValues());
  EXPECT_EQ(dst->Color(), QColor(Qt::red));
  EXPECT_EQ(dst->Font(), Font("DejaVu Sans", 19));
  EXPECT_EQ(dst->FontColor(), QColor(Qt::darkBlue));
  EXPECT_TRUE(dst->ReadOnly());
  EXPECT_EQ(dst->ButtonStyle(), ColumnButtonStyle::cbsNone);
  EXPECT_EQ(dst->DropDownRows(), 4);
  EXPECT_EQ(dst->PickList(), (QStringList{"1", "2"}));
  EXPECT_EQ(dst->Title().Caption(), "Level");
  EXPECT_EQ(dst->Title().Alignment(), TextAlignment::taCenter);
  // What the source did not assign is back to the default.
  EXPECT_EQ(dst->Width(), dst->DefaultWidth());
  EXPECT_EQ(dst->Alignment(), TextAlignment::taLeftJustify);
  EXPECT_EQ(dst->Title().Color(), grid_.fixedColor);
  // Copies are independent.
  src->PickList() << "3";
  EXPECT_EQ(dst->PickList().size(), 2);
}

TEST_F(ColumnsTest, CollectionAssignCopiesEveryColumnWithItsKind) {
  GridColumns source(nullptr);
  source.AddPassthrough()->SetFieldName("A");
  GridColumn* b = source.Add();
  b->SetFieldName("B");
  b->SetWidth(99);
  columns_.Add();
  grid_.changes = 0;
  columns_.Assign(source);
  EXPECT_EQ(grid_.changes, 1);
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_NE(dynamic_cast<PassthroughColumn*>(columns_[0]), nullptr);
  EXPECT_EQ(dynamic_cast<PassthroughColumn*>(columns_[1]), nullptr);
  EXPECT_EQ(columns_[0]->FieldName(), "A");
  EXPECT_EQ(columns_[1]->Width(), 99);
}

// ---------------------------------------------------------------------------
// Default width

TEST_F(ColumnsTest, DefaultWidthFromTheFieldsDisplayWidthAndTheTitle) {
  OpenTable();
  GridColumn* c = columns_.Add();
  c->SetFieldName("LEVEL");
  const int zero = QFontMetrics(grid_.font).horizontalAdvance(QLatin1Char('0'));
  data::Field* level = Field("LEVEL");
  grid_.titles = false;
  EXPECT_EQ(c->Width(), zero * level->DisplayWidth() + 4);
  level->SetDisplayWidth(8);
  EXPECT_EQ(c->Width(), zero * 8 + 4);
  // In the column's own font.
  c->SetFont(Font("DejaVu Sans Mono", 24));
  const int bigZero = QFontMetrics(c->Font()).horizontalAdvance(QLatin1Char('0'));
  ASSERT_NE(bigZero, zero);
  EXPECT_EQ(c->Width(), bigZero * 8 + 4);
  // With titles at least the caption's width in the title font, plus 4.
  grid_.titles = true;
  c->Title().SetCaption("A rather long title for a three-digit level");
  const int caption = QFontMetrics(grid_.titleFont).horizontalAdvance(c->Title().Caption());
  ASSERT_GT(caption + 4, bigZero * 8 + 4);
  EXPECT_EQ(c->Width(), caption + 4);
  c->Title().SetCaption("L");
  EXPECT_EQ(c->Width(), bigZero * 8 + 4);
  // Without a field the grid's default column width.
  c->SetFieldName("NOSUCH");
  EXPECT_EQ(c->Width(), grid_.defaultColWidth);
}

// ---------------------------------------------------------------------------
// The columns text

// Every stored property of every column, and which are stored.
std::vector<QString> StoredState(const GridColumns& cols) {
  std::vector<QString> out;
  for (int i = 0; i < cols.Count(); ++i) {
    const GridColumn* c = cols[i];
    const ColumnTitle& t = c->Title();
    QStringList s;
    s << QString::fromStdString(c->FieldName()) << c->Color().name(QColor::HexArgb)
      << QString::number(c->Width()) << c->Font().toString() << c->FontColor().name()
      << QString::number(static_cast<int>(c->Alignment())) << QString::number(c->ReadOnly())
      << QString::number(static_cast<int>(c->ButtonStyle())) << QString::number(c->DropDownRows())
      << (c->HasPickList() ? const_cast<GridColumn*>(c)->PickList().join('|') : QString())
      << t.Caption() << QString::number(static_cast<int>(t.Alignment()))
      << t.Color().name(QColor::HexArgb) << t.Font().toString() << t.FontColor().name();
    for (bool stored :
         {c->IsColorStored(), c->IsWidthStored(), c->IsFontStored(), c->IsAlignmentStored(),
          c->IsReadOnlyStored(), c->IsButtonStyleStored(), c->IsDropDownRowsStored(),
          t.IsCaptionStored(), t.IsAlignmentStored(), t.IsColorStored(), t.IsFontStored()})
      s << (stored ? "S" : "-");
    out.push_back(s.join(';'));
  }
  return out;
}

TEST_F(ColumnsTest, TextFormWritesAndReadsBackExactlyTheStoredProperties) {
  OpenTable();
  GridColumn* a = columns_.Add();
  a->SetFieldName("CHEATNAME");
  a->Title().SetCaption("Cheatname");
  a->Title().SetFont(Font("DejaVu Serif", 13, true));
  a->Title().SetFontColor(Qt::black);
  a->SetWidth(321);
  a->SetReadOnly(true);
  GridColumn* b = columns_.Add();
  b->SetFieldName("LEVEL");
  b->SetColor(QColor(1, 2, 3, 200));
  b->SetFont(Font("DejaVu Sans Mono", 17));
  b->SetFontColor(Qt::darkMagenta);
  b->SetAlignment(TextAlignment::taRightJustify);
  b->SetButtonStyle(ColumnButtonStyle::cbsEllipsis);
  b->SetDropDownRows(9);
  b->PickList() << "plain"
                << "with, comma"
                << "say \"hi\"\\"
                << " spaced "
                << "two\nlines"
                << "";
  b->Title().SetAlignment(TextAlignment::taCenter);
  b->Title().SetColor(Qt::darkYellow);
  // Assigned but equal to the defaults: not stored, and read back as
  // defaults.
  GridColumn* c = columns_.Add();
  c->SetFieldName("ACTIVE");
  c->SetColor(grid_.color);
  c->SetAlignment(TextAlignment::taLeftJustify);
  c->SetReadOnly(false);
  c->Title().SetCaption("ACTIVE");
  c->Title().SetColor(grid_.fixedColor);
  c->Title().SetAlignment(TextAlignment::taLeftJustify);

  const QString text = columns_.WriteText();
  EXPECT_TRUE(text.startsWith("[column]\n"));
  EXPECT_TRUE(text.contains("Title.Caption = \"Cheatname\"\n"));
  EXPECT_TRUE(text.contains("Width = 321\n"));
  EXPECT_FALSE(text.contains("Title.Caption = \"ACTIVE\""));
  EXPECT_EQ(text.count("Color"), 2);  // b's colour and title colour only

  GridColumns back(&grid_);
  back.Add()->SetFieldName("LEFTOVER");
  grid_.changes = 0;
  back.ReadText(text);
  EXPECT_EQ(grid_.changes, 1);
  EXPECT_TRUE(back.Persistent());
  EXPECT_EQ(StoredState(back), StoredState(columns_));
  EXPECT_EQ(back.WriteText(), text);
  // What was not stored is not assigned after reading.
  const ColumnValues cv = back[2]->AssignedValues();
  for (ColumnValue v :
       {ColumnValue::cvColor, ColumnValue::cvAlignment, ColumnValue::cvReadOnly,
        ColumnValue::cvTitleCaption, ColumnValue::cvTitleColor, ColumnValue::cvTitleAlignment})
    EXPECT_FALSE(cv.Has(v)) << static_cast<int>(v);
  grid_.color = Qt::blue;
  EXPECT_EQ(back[2]->Color(), QColor(Qt::blue));
}

// Font families of every shape the older column list lets through (empty,
// blank, blanks around a name, commas) are written so that reading gives
// them back as they were.
TEST_F(ColumnsTest, TextFormKeepsFontFamiliesOfAnyShape) {
  for (const QString& family : {QString(), QString(" "), QString("Arial"), QString(" Arial "),
                                QString("A, B"), QString(","), QString("Sans,"), QString(" , ")}) {
    SCOPED_TRACE(family.toStdString());
    GridColumns columns(&grid_);
    QFont font = Font("DejaVu Sans", 11);
    font.setFamily(family);
    columns.Add()->SetFont(font);
    const QString text = columns.WriteText();
    GridColumns back(&grid_);
    back.ReadText(text);
    ASSERT_EQ(back.Count(), 1) << text.toStdString();
    EXPECT_EQ(back[0]->Font().family(), family) << text.toStdString();
    EXPECT_EQ(back.WriteText(), text);
  }
}

TEST_F(ColumnsTest, TextFormOfDefaultColumnsIsEmptyAndBadTextChangesNothing) {
  columns_.AddPassthrough()->SetFieldName("X");
  EXPECT_EQ(columns_.WriteText(), QString());
  columns_.ReadText(QString());
  EXPECT_EQ(columns_.Count(), 0);

  columns_.Add()->SetFieldName("KEPT");
  const std::vector<QString> bad{
      "Width = 3\n",                        // before the first column
      "[column]\nWidth 3\n",                // no "="
      "[column]\nHeight = 3\n",             // unknown property
      "[column]\nWidth = wide\n",           // not a number
      "[column]\nFieldName = \"open\n",     // no closing quote
      "[column]\nFieldName = CHEATNAME\n",  // not quoted
      "[column]\nColor = #12\n",            // no colour
      "[column]\nAlignment = justified\n",  // no alignment
      "[column]\nFieldName = \"A\"\n[column]\nReadOnly = yes\n",
  };
  for (const QString& text : bad) {
    SCOPED_TRACE(text.toStdString());
    EXPECT_THROW(columns_.ReadText(text), ColumnsTextError);
    ASSERT_EQ(columns_.Count(), 1);
    EXPECT_EQ(columns_[0]->FieldName(), "KEPT");
  }
  try {
    columns_.ReadText("[column]\nFieldName = \"A\"\n\n[column]\nReadOnly = yes\n");
    ADD_FAILURE() << "no error";
  } catch (const ColumnsTextError& e) {
    EXPECT_NE(std::string(e.what()).find("line 5"), std::string::npos) << e.what();
  }
}

// ---------------------------------------------------------------------------
// The older column list

TEST_F(ColumnsTest, SavedColumnsEntriesApplyToTheCurrentColumn) {
  OpenTable();
  grid_.loading = true;
  columns_.ReadSavedColumns({
      "cvColorStr=clRed",  // before the first column: ignored
      "cvWidthStr=500",
      "  cvColumn=1  ",
      "cvFieldNameStr=CHEATNAME",
      "cvColorStr=clBlue",
      "cvWidthStr=150",
      "cvFontStr=Arial,clBlue,266",
      "cvAlignmentStr=TARIGHTJUSTIFY",
      "cvReadOnlyStr=true",
      "cvTitleCaptionStr=Cheat name",
      "cvTitleColorStr=255",
      "cvTitleAlignmentStr=taCenter",
      "cvTitleFontStr=Courier New,$00FF00,3592",  // 0xE08: 8 points, italic, underline, strike-out
      "cvColumn=3",                               // adds two columns; the third is current
      "cvFieldNameStr=LEVEL",
      "cvColumn=2",  // not above the previous: the third stays current
      "cvAlignmentStr=taCenter",
      "cvReadOnlyStr=yes",
      "cvColorStr=clNoSuchColour",
      "cvWidthStr=wide",
      "cvSomethingElse=1",
  });
  ASSERT_EQ(columns_.Count(), 3);
  GridColumn* first = columns_[0];
  EXPECT_EQ(first->FieldName(), "CHEATNAME");
  EXPECT_EQ(first->Color(), QColor(0, 0, 255));
  EXPECT_EQ(first->Width(), 150);
  const QFont font = first->Font();
  EXPECT_EQ(font.family(), "Arial");
  EXPECT_EQ(font.pointSize(), 10);
  EXPECT_TRUE(font.bold());
  EXPECT_FALSE(font.italic());
  EXPECT_FALSE(font.underline());
  EXPECT_FALSE(font.strikeOut());
  EXPECT_EQ(first->FontColor(), QColor(0, 0, 255));
  EXPECT_EQ(first->Alignment(), TextAlignment::taRightJustify);
  EXPECT_TRUE(first->ReadOnly());
  EXPECT_EQ(first->Title().Caption(), "Cheat name");
  EXPECT_EQ(first->Title().Color(), QColor(255, 0, 0));
  EXPECT_EQ(first->Title().Alignment(), TextAlignment::taCenter);
  const QFont titleFont = first->Title().Font();
  EXPECT_EQ(titleFont.family(), "Courier New");
  EXPECT_EQ(titleFont.pointSize(), 8);
  EXPECT_FALSE(titleFont.bold());
  EXPECT_TRUE(titleFont.italic());
  EXPECT_TRUE(titleFont.underline());
  EXPECT_TRUE(titleFont.strikeOut());
  EXPECT_EQ(first->Title().FontColor(), QColor(0, 255, 0));

  EXPECT_TRUE(columns_[1]->AssignedValues().Empty());
  GridColumn* third = columns_[2];
  EXPECT_EQ(third->FieldName(), "LEVEL");
  EXPECT_EQ(third->Alignment(), TextAlignment::taCenter);
  EXPECT_FALSE(third->ReadOnly());
  EXPECT_TRUE(third->AssignedValues().Has(ColumnValue::cvReadOnly));
  EXPECT_FALSE(third->AssignedValues().Has(ColumnValue::cvColor));
  EXPECT_FALSE(third->AssignedValues().Has(ColumnValue::cvWidth));
  EXPECT_TRUE(columns_.WriteSavedColumns().isEmpty());
}

TEST_F(ColumnsTest, SavedColumnsIgnoreEntriesWithoutACurrentColumn) {
  columns_.ReadSavedColumns({"cvColorStr=clRed", "cvColumn=1", "cvFieldNameStr=A"});
  ASSERT_EQ(columns_.Count(), 1);
  EXPECT_FALSE(columns_[0]->AssignedValues().Has(ColumnValue::cvColor));
  EXPECT_EQ(columns_[0]->Color(), grid_.color);
  // Columns that are already there are not made current by a number that
  // adds nothing.
  GridColumns two(&grid_);
  two.Add()->SetFieldName("X");
  two.Add()->SetFieldName("Y");
  two.ReadSavedColumns({"cvColumn=1", "cvColorStr=clRed", "cvColumn=3", "cvWidthStr=99"});
  ASSERT_EQ(two.Count(), 3);
  EXPECT_FALSE(two[0]->AssignedValues().Has(ColumnValue::cvColor));
  EXPECT_FALSE(two[1]->AssignedValues().Has(ColumnValue::cvColor));
  EXPECT_EQ(two[2]->Width(), 99);
}

TEST_F(ColumnsTest, SavedColumnsAlignmentsAndColourNumbers) {
  columns_.ReadSavedColumns(
      {"cvColumn=1", "cvFieldNameStr=X", "cvAlignmentStr=tacenter", "cvColorStr=$0080FF"});
  columns_.ReadSavedColumns(
      {"cvColumn=2", "cvAlignmentStr=taMiddle", "cvColorStr=16744576"});  // 0xFF8080
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_EQ(columns_[0]->FieldName(), "X");
  EXPECT_EQ(columns_[0]->Alignment(), TextAlignment::taCenter);
  EXPECT_EQ(columns_[0]->Color(), QColor(0xFF, 0x80, 0x00));
  EXPECT_EQ(columns_[1]->Alignment(), TextAlignment::taLeftJustify);
  EXPECT_TRUE(columns_[1]->AssignedValues().Has(ColumnValue::cvAlignment));
  EXPECT_EQ(columns_[1]->Color(), QColor(0x80, 0x80, 0xFF));
  QColor c;
  for (const auto& [name, expected] :
       std::vector<std::pair<const char*, QColor>>{{"clMaroon", QColor(0x80, 0, 0)},
                                                   {"clOlive", QColor(0x80, 0x80, 0)},
                                                   {"clNavy", QColor(0, 0, 0x80)},
                                                   {"clTeal", QColor(0, 0x80, 0x80)},
                                                   {"clSilver", QColor(0xC0, 0xC0, 0xC0)},
                                                   {"clYellow", QColor(255, 255, 0)},
                                                   {"clAqua", QColor(0, 255, 255)},
                                                   {"clFuchsia", QColor(255, 0, 255)},
                                                   {"clWindow", WindowColor()},
                                                   {"clBtnFace", ButtonFaceColor()},
                                                   {"clWindowText", WindowTextColor()},
                                                   {"0x112233", QColor(0x33, 0x22, 0x11)},
                                                   {"-1", QColor(255, 255, 255)}}) {
    ASSERT_TRUE(ParseLegacyColor(name, c)) << name;
    EXPECT_EQ(c, expected) << name;
  }
  EXPECT_FALSE(ParseLegacyColor("blue", c));
}

TEST_F(ColumnsTest, SavedColumnsRemoveOnlyASingleEmptyColumnFirst) {
  columns_.Add();
  columns_.ReadSavedColumns({"cvColumn=1", "cvFieldNameStr=A"});
  ASSERT_EQ(columns_.Count(), 1);
  EXPECT_EQ(columns_[0]->FieldName(), "A");
  // A column with a caption (or a field) stays.
  GridColumns other(&grid_);
  other.Add()->Title().SetCaption("Kept");
  other.ReadSavedColumns({"cvColumn=2", "cvFieldNameStr=B"});
  ASSERT_EQ(other.Count(), 2);
  EXPECT_EQ(other[0]->Title().Caption(), "Kept");
  EXPECT_EQ(other[1]->FieldName(), "B");
}

// ---------------------------------------------------------------------------
// Default (passthrough) columns

TEST_F(ColumnsTest, PassthroughWidthSetsTheFieldsDisplayWidthWithAWindow) {
  OpenTable();
  PassthroughColumn* c = columns_.AddPassthrough();
  c->SetField(Field("CHEATNAME"));
  const int ave = QFontMetrics(c->Font()).averageCharWidth();
  ASSERT_GT(ave, 0);
  c->SetWidth(200);
  EXPECT_EQ(Field("CHEATNAME")->DisplayWidth(), 35);  // no window: untouched
  grid_.window = true;
  c->SetWidth(200);
  EXPECT_EQ(Field("CHEATNAME")->DisplayWidth(), (200 + ave / 2 - 3) / ave);
  EXPECT_EQ(c->Width(), 200);
}

TEST_F(ColumnsTest, PassthroughWidthNeverAssignedIsNotKeptDuringALayoutPass) {
  OpenTable();
  PassthroughColumn* c = columns_.AddPassthrough();
  c->SetField(Field("LEVEL"));
  grid_.changes = 0;
  columns_.BeginLayoutPass();
  c->SetWidth(c->DefaultWidth() + 50);
  EXPECT_FALSE(c->AssignedValues().Has(ColumnValue::cvWidth));
  EXPECT_EQ(c->Width(), c->DefaultWidth());
  EXPECT_EQ(grid_.changes, 0);
  columns_.EndLayoutPass();
  c->SetWidth(c->DefaultWidth() + 50);
  EXPECT_TRUE(c->AssignedValues().Has(ColumnValue::cvWidth));
  const int assigned = c->Width();
  columns_.BeginLayoutPass();
  c->SetWidth(assigned + 1);  // assigned before: kept
  columns_.EndLayoutPass();
  EXPECT_EQ(c->Width(), assigned + 1);
}

TEST_F(ColumnsTest, PassthroughIndexMovesItsFieldWhileTheLinkIsActive) {
  OpenTable();
  grid_.map = {Field("CHEATNAME"), Field("LEVEL"), Field("ACTIVE")};
  PassthroughColumn* name = columns_.AddPassthrough();
  name->SetField(Field("CHEATNAME"));
  PassthroughColumn* level = columns_.AddPassthrough();
  level->SetField(Field("LEVEL"));
  PassthroughColumn* active = columns_.AddPassthrough();
  active->SetField(Field("ACTIVE"));
  active->SetIndex(0);
  EXPECT_EQ(FieldOrder(), (std::vector<std::string>{"ACTIVE", "CHEATNAME", "LEVEL"}));
  EXPECT_EQ(columns_[0], active);
  grid_.map = {Field("ACTIVE"), Field("CHEATNAME"), Field("LEVEL")};
  active->SetIndex(2);
  EXPECT_EQ(FieldOrder(), (std::vector<std::string>{"CHEATNAME", "LEVEL", "ACTIVE"}));
  // Link inactive: only the column moves.
  grid_.linkActive = false;
  grid_.map = {Field("CHEATNAME"), Field("LEVEL"), Field("ACTIVE")};
  name->SetIndex(2);
  EXPECT_EQ(FieldOrder(), (std::vector<std::string>{"CHEATNAME", "LEVEL", "ACTIVE"}));
  EXPECT_EQ(columns_[2], name);
}

TEST_F(ColumnsTest, PassthroughAlignmentAndCaptionDependOnAnActiveBoundField) {
  OpenTable();
  PassthroughColumn* c = columns_.AddPassthrough();
  EXPECT_NE(dynamic_cast<PassthroughColumnTitle*>(&c->Title()), nullptr);
  // Unbound: the alignment can be set, the caption cannot.
  c->SetAlignment(TextAlignment::taCenter);
  c->Title().SetCaption("Nope");
  EXPECT_EQ(c->Alignment(), TextAlignment::taCenter);
  EXPECT_FALSE(c->AssignedValues().Has(ColumnValue::cvTitleCaption));
  // Bound to a field of an active link: the other way round.
  c->SetField(Field("LEVEL"));
  c->SetAlignment(TextAlignment::taRightJustify);
  c->Title().SetCaption("Level");
  EXPECT_EQ(c->Alignment(), TextAlignment::taLeftJustify);
  EXPECT_EQ(c->Title().Caption(), "Level");
  // Bound, link inactive: as unbound.
  grid_.linkActive = false;
  c->SetAlignment(TextAlignment::taRightJustify);
  c->Title().SetCaption("Other");
  EXPECT_EQ(c->Alignment(), TextAlignment::taRightJustify);
  EXPECT_EQ(c->Title().Caption(), "Level");
}

TEST_F(ColumnsTest, PassthroughBindingResetsAssignedValuesAndUnbindingClearsTheName) {
  OpenTable();
  PassthroughColumn* c = columns_.AddPassthrough();
  c->SetField(Field("LEVEL"));
  c->SetColor(Qt::red);
  c->SetWidth(300);
  c->SetField(Field("LEVEL"));  // the same field: nothing happens
  EXPECT_EQ(c->Color(), QColor(Qt::red));
  c->SetField(Field("ACTIVE"));
  EXPECT_TRUE(c->AssignedValues().Empty());
  EXPECT_EQ(c->FieldName(), "ACTIVE");
  c->SetColor(Qt::red);
  c->SetField(nullptr);
  EXPECT_TRUE(c->AssignedValues().Empty());
  EXPECT_EQ(c->FieldName(), "");
  EXPECT_EQ(c->Field(), nullptr);
  // A plain column keeps its values and name.
  GridColumn* plain = columns_.Add();
  plain->SetField(Field("LEVEL"));
  plain->SetColor(Qt::red);
  plain->SetField(nullptr);
  EXPECT_EQ(plain->Color(), QColor(Qt::red));
  EXPECT_EQ(plain->FieldName(), "LEVEL");
}

TEST_F(ColumnsTest, DefaultColumnForAFieldTheDataSetLacksStaysUnbound) {
  OpenTable();
  PassthroughColumn* c = columns_.AddPassthrough();
  grid_.loading = true;  // the name is only stored
  c->SetFieldName("NOSUCH");
  grid_.loading = false;
  EXPECT_EQ(c->Field(), nullptr);
  EXPECT_EQ(c->FieldName(), "NOSUCH");
  EXPECT_EQ(c->Width(), grid_.defaultColWidth);
  // A map entry without a field gives an unbound default column.
  grid_.map = {Field("LEVEL"), nullptr};
  columns_.SyncDefaultColumns(true, 2);
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_EQ(columns_[0]->Field(), Field("LEVEL"));
  EXPECT_EQ(columns_[1]->Field(), nullptr);
  EXPECT_EQ(columns_[1]->FieldName(), "");
}

// ---------------------------------------------------------------------------
// Helpers of the grid's layout pass

TEST_F(ColumnsTest, SyncDefaultColumnsKeepsMovesAndMakesColumnsForTheMap) {
  OpenTable();
  PassthroughColumn* level = columns_.AddPassthrough();
  level->SetField(Field("LEVEL"));
  level->SetWidth(level->DefaultWidth() + 40);
  PassthroughColumn* gone = columns_.AddPassthrough();
  gone->SetField(Field("ACTIVE"));
  grid_.map = {Field("CHEATNAME"), Field("LEVEL")};  // ACTIVE is hidden
  grid_.changes = 0;
  columns_.SyncDefaultColumns(true, 2);
  EXPECT_EQ(grid_.changes, 1);
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_EQ(columns_[0]->Field(), Field("CHEATNAME"));
  EXPECT_EQ(columns_[1], level);  // kept, with its width
  EXPECT_TRUE(level->AssignedValues().Has(ColumnValue::cvWidth));
  EXPECT_EQ(FieldOrder(), (std::vector<std::string>{"CHEATNAME", "LEVEL", "ACTIVE"}));
  // Without keeping, every column is made anew.
  columns_.SyncDefaultColumns(false, 2);
  ASSERT_EQ(columns_.Count(), 2);
  EXPECT_EQ(columns_[1]->Field(), Field("LEVEL"));
  EXPECT_FALSE(columns_[1]->AssignedValues().Has(ColumnValue::cvWidth));
  // Nothing in the map and no column: one unbound column.
  columns_.Clear();
  grid_.map.clear();
  columns_.SyncDefaultColumns(true, 0);
  ASSERT_EQ(columns_.Count(), 1);
  EXPECT_EQ(columns_[0]->Field(), nullptr);
  EXPECT_TRUE(columns_.IsDefaultColumns());
}

TEST_F(ColumnsTest, PassthroughColumnsBeforeAPersistentOneAreRemoved) {
  columns_.AddPassthrough();
  GridColumn* kept = columns_.Add();
  columns_.AddPassthrough();
  columns_.RemovePassthroughBeforePersistent();
  ASSERT_EQ(columns_.Count(), 1);
  EXPECT_EQ(columns_[0], kept);
  // Persistent columns followed by default ones are left alone.
  columns_.AddPassthrough();
  columns_.RemovePassthroughBeforePersistent();
  EXPECT_EQ(columns_.Count(), 2);
}

}  // namespace
}  // namespace vz::views
