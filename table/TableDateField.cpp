#include "table/TableDateField.h"

#include "engine/dates.h"
#include "engine/dbf_file.h"
#include "engine/trim.h"

namespace vz {

double DateValueOfText(const std::string& text) {
  const std::string blank = BlankDate();
  if (text == blank || Trim(text).empty()) return 0;
  std::string stored;
  if (!DisplayToStored(text, stored)) return 0;
  const std::int64_t j = JulianOfStored(stored);
  return j == 0 ? 0 : static_cast<double>(j - data::kJulianOfDayZero);
}

std::string TableDateField::DisplayText() const {
  const std::string text = DateField::DisplayText();
  std::string checked;
  if (text.size() >= 10 && DateCheck(text.substr(0, 10), checked)) return text.substr(0, 10);
  return text;
}

void TableDateField::SetAsString(const std::string& text) {
  std::string t = TrimRight(text);
  if (t.size() > 10) t.resize(10);
  if (t == TrimRight(BlankDate())) {
    Clear();
    return;
  }
  const double days = DateValueOfText(t);
  if (days == 0) {
    // Not a date the engine accepts: the framework's conversion decides.
    DateField::SetAsString(text);
    return;
  }
  SetAsDate(static_cast<data::DayNumber>(days));
}

}  // namespace vz
