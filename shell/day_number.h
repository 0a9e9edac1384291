#pragma once

#include <QDate>

#include <functional>

namespace wavrell {

/// Whole days since 30 December 1899 (day 0), the day numbers the program
/// stores and compares.
int day_number(const QDate& date);
QDate date_of_day_number(int day);

/// Today's day number from the local date, or from the hook when one is set.
int today_day_number();
/// Replaces "today" (tests); an empty hook restores the local date.
void set_today_hook(std::function<int()> hook);

}  // namespace wavrell
