#include "http/http_date.h"

#include <array>
#include <cstdio>

#include "platform/text.h"

namespace tenvar::http {
namespace {

constexpr std::size_t kMaxDateLength = 127;

constexpr std::array<std::string_view, 7> kShortDays = {"Sun", "Mon", "Tue", "Wed",
                                                        "Thu", "Fri", "Sat"};
constexpr std::array<std::string_view, 7> kLongDays = {
    "Sunday", "Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday"};
constexpr std::array<std::string_view, 12> kMonths = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                      "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Reads the date piece by piece; a step that does not fit the text fails the whole date.
class Cursor {
 public:
  explicit Cursor(std::string_view text) : rest_(text) {}

  bool AtEnd() const { return rest_.empty(); }

  bool Literal(char c) {
    if (rest_.empty() || rest_.front() != c) return false;
    rest_.remove_prefix(1);
    return true;
  }

  // One or more spaces.
  bool Spaces() {
    if (!Literal(' ')) return false;
    while (Literal(' ')) {
    }
    return true;
  }

  bool Word(std::string_view& word) {
    std::size_t length = 0;
    while (length < rest_.size() && IsLetter(rest_[length])) ++length;
    if (length == 0) return false;
    word = rest_.substr(0, length);
    rest_.remove_prefix(length);
    return true;
  }

  bool Number(std::size_t minDigits, std::size_t maxDigits, int& value) {
    std::size_t length = 0;
    int number = 0;
    while (length < rest_.size() && length < maxDigits && rest_[length] >= '0' &&
           rest_[length] <= '9') {
      number = number * 10 + (rest_[length] - '0');
      ++length;
    }
    if (length < minDigits) return false;
    // A longer run of digits than allowed is not a shorter number followed by more.
    if (length < rest_.size() && rest_[length] >= '0' && rest_[length] <= '9') return false;
    value = number;
    rest_.remove_prefix(length);
    return true;
  }

  // hh:mm:ss
  bool Time(std::tm& fields) {
    return Number(2, 2, fields.tm_hour) && Literal(':') && Number(2, 2, fields.tm_min) &&
           Literal(':') && Number(2, 2, fields.tm_sec);
  }

  bool Month(std::tm& fields) {
    std::string_view word;
    if (!Word(word)) return false;
    for (std::size_t i = 0; i < kMonths.size(); ++i) {
      if (platform::EqualsIgnoreCase(word, kMonths[i])) {
        fields.tm_mon = static_cast<int>(i);
        return true;
      }
    }
    return false;
  }

  bool Zone() {
    std::string_view word;
    return Word(word) && (platform::EqualsIgnoreCase(word, "GMT") ||
                          platform::EqualsIgnoreCase(word, "UTC"));
  }

 private:
  static bool IsLetter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

  std::string_view rest_;
};

template <std::size_t N>
bool IsOneOf(std::string_view word, const std::array<std::string_view, N>& names) {
  for (std::string_view name : names) {
    if (platform::EqualsIgnoreCase(word, name)) return true;
  }
  return false;
}

// "06 Nov 1994 08:49:37 GMT" or "06-Nov-94 08:49:37 GMT", read after the day name's comma.
bool ReadAfterComma(Cursor& cursor, std::tm& fields) {
  if (!cursor.Spaces() || !cursor.Number(1, 2, fields.tm_mday)) return false;
  int year = 0;
  if (cursor.Literal('-')) {
    if (!cursor.Month(fields) || !cursor.Literal('-') || !cursor.Number(2, 4, year)) {
      return false;
    }
    if (year >= 100 && year < 1000) return false;
    // Two-digit years from the last century's servers; the pivot keeps them before 2070.
    if (year < 100) year += year < 70 ? 2000 : 1900;
  } else {
    if (!cursor.Spaces() || !cursor.Month(fields) || !cursor.Spaces() ||
        !cursor.Number(4, 4, year)) {
      return false;
    }
  }
  fields.tm_year = year - 1900;
  return cursor.Spaces() && cursor.Time(fields) && cursor.Spaces() && cursor.Zone();
}

// "Nov  6 08:49:37 1994", read after the day name.
bool ReadAsctime(Cursor& cursor, std::tm& fields) {
  int year = 0;
  if (!cursor.Spaces() || !cursor.Month(fields) || !cursor.Spaces() ||
      !cursor.Number(1, 2, fields.tm_mday) || !cursor.Spaces() || !cursor.Time(fields) ||
      !cursor.Spaces() || !cursor.Number(4, 4, year)) {
    return false;
  }
  fields.tm_year = year - 1900;
  return true;
}

}  // namespace

std::string FormatHttpDate(std::time_t utc) {
  std::tm fields{};
  if (::gmtime_r(&utc, &fields) == nullptr) return std::string();
  char text[64];
  const int length = std::snprintf(
      text, sizeof text, "%s, %02d %s %04d %02d:%02d:%02d GMT",
      kShortDays[static_cast<std::size_t>(fields.tm_wday) % 7].data(), fields.tm_mday,
      kMonths[static_cast<std::size_t>(fields.tm_mon) % 12].data(), fields.tm_year + 1900,
      fields.tm_hour, fields.tm_min, fields.tm_sec);
  if (length < 0 || static_cast<std::size_t>(length) >= sizeof text) return std::string();
  return std::string(text, static_cast<std::size_t>(length));
}

std::optional<std::time_t> ParseHttpDate(std::string_view text) {
  if (text.size() > kMaxDateLength) return std::nullopt;
  Cursor cursor(platform::Trim(text));
  std::tm fields{};
  std::string_view dayName;
  if (!cursor.Word(dayName)) return std::nullopt;
  bool read = false;
  if (cursor.Literal(',')) {
    read = (IsOneOf(dayName, kShortDays) || IsOneOf(dayName, kLongDays)) &&
           ReadAfterComma(cursor, fields);
  } else {
    read = IsOneOf(dayName, kShortDays) && ReadAsctime(cursor, fields);
  }
  if (!read || !cursor.AtEnd()) return std::nullopt;
  if (fields.tm_mday < 1 || fields.tm_hour > 23 || fields.tm_min > 59 || fields.tm_sec > 60) {
    return std::nullopt;
  }
  const int month = fields.tm_mon;
  const int day = fields.tm_mday;
  // A leap second is added afterwards so that 23:59:60 cannot roll the day over below.
  const int seconds = fields.tm_sec;
  fields.tm_sec = 0;
  const std::time_t utc = ::timegm(&fields);
  // timegm rolls 31 Feb over into March; such a date was never a real one.
  if (fields.tm_mon != month || fields.tm_mday != day) return std::nullopt;
  return utc + seconds;
}

}  // namespace tenvar::http
