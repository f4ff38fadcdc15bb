// The "content" manifest of a package: four head lines (version,
// description, date, unit count), then one unit archive name per line.
#ifndef LKPCTL_MANIFEST_H
#define LKPCTL_MANIFEST_H

#include <string>
#include <vector>

namespace lkpctl {

enum HeadLine { HEAD_VERSION = 0, HEAD_DESCRIPTION = 1, HEAD_DATE = 2, HEAD_UNITS = 3 };

struct ManifestFields {
    std::string version;
    std::string description;
    std::string date;
    std::vector<std::string> unit_archives;  // in installation order
};

// The manifest text, every line ended by a line feed and nothing after the last.
std::string manifest_text(const ManifestFields &fields);

// Empty when value fits on the given head line; else why it does not.
std::string head_value_problem(HeadLine line, const std::string &value);

// Empty when date is a calendar date written YYYY-MM-DD; else why not.
std::string date_problem(const std::string &date);

// Today's date in UTC, or the date of $SOURCE_DATE_EPOCH when it is set, as YYYY-MM-DD.
std::string default_date();

}  // namespace lkpctl

#endif
