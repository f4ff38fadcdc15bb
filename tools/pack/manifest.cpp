// Writing the manifest with the library's own head keys.
#include "manifest.h"

#include <cctype>
#include <cerrno>
#include <cstdlib>
#include <ctime>

#include "tesvar.h"

namespace lkpctl {
namespace {

constexpr size_t MAX_LINE = 1023;  // the package check's limit, line feed included
constexpr size_t DATE_LENGTH = 10;
constexpr int MONTHS = 12;

std::string head_line(HeadLine line, const std::string &value) {
    return std::string(head_info[line]) + " " + value + "\n";
}

bool is_leap(int year) {
    return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

int days_in_month(int year, int month) {
    constexpr int DAYS[MONTHS] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    return month == 2 && is_leap(year) ? 29 : DAYS[month - 1];
}

bool is_calendar_date(const std::string &date) {
    if (date.size() != DATE_LENGTH || date[4] != '-' || date[7] != '-') {
        return false;
    }
    for (size_t index : {0, 1, 2, 3, 5, 6, 8, 9}) {
        if (std::isdigit(static_cast<unsigned char>(date[index])) == 0) {
            return false;
        }
    }
    const int year = static_cast<int>(std::strtol(date.substr(0, 4).c_str(), nullptr, 10));
    const int month = static_cast<int>(std::strtol(date.substr(5, 2).c_str(), nullptr, 10));
    const int day = static_cast<int>(std::strtol(date.substr(8, 2).c_str(), nullptr, 10));
    return month >= 1 && month <= MONTHS && day >= 1 && day <= days_in_month(year, month);
}

static_assert(sizeof(time_t) >= 8, "dates after 2038 need a 64-bit time_t (_TIME_BITS=64)");

// The moment the date stands for: $SOURCE_DATE_EPOCH when it is a whole number, else now.
time_t date_moment() {
    const char *epoch = std::getenv("SOURCE_DATE_EPOCH");
    if (epoch != nullptr && epoch[0] != '\0') {
        char *end = nullptr;
        errno = 0;
        const long long seconds = std::strtoll(epoch, &end, 10);
        if (errno == 0 && *end == '\0' && seconds >= 0) {
            return static_cast<time_t>(seconds);
        }
    }
    return std::time(nullptr);
}

}  // namespace

std::string manifest_text(const ManifestFields &fields) {
    std::string text = head_line(HEAD_VERSION, fields.version) +
                       head_line(HEAD_DESCRIPTION, fields.description) +
                       head_line(HEAD_DATE, fields.date) +
                       head_line(HEAD_UNITS, std::to_string(fields.unit_archives.size()));
    for (const std::string &archive : fields.unit_archives) {
        text += archive + "\n";
    }
    return text;
}

std::string head_value_problem(HeadLine line, const std::string &value) {
    if (value.find('\n') != std::string::npos) {
        return std::string("the value of \"") + head_info[line] + "\" must not hold a newline";
    }
    if (head_line(line, value).size() > MAX_LINE) {
        return std::string("the \"") + head_info[line] + "\" line would be longer than 1023 bytes";
    }
    return "";
}

std::string date_problem(const std::string &date) {
    if (is_calendar_date(date)) {
        return "";
    }
    return "date '" + date + "' is not a calendar date written YYYY-MM-DD";
}

std::string default_date() {
    const time_t moment = date_moment();
    struct tm parts {};
    char text[DATE_LENGTH + 1] = {};
    if (gmtime_r(&moment, &parts) == nullptr ||
        std::strftime(text, sizeof text, "%Y-%m-%d", &parts) != DATE_LENGTH) {
        return "1970-01-01";
    }
    return text;
}

}  // namespace lkpctl
