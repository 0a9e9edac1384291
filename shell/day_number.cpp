#include "shell/day_number.h"

namespace wavrell {

namespace {
const QDate day_zero(1899, 12, 30);

std::function<int()>& today_hook() {
    static std::function<int()> h;
    return h;
}
}  // namespace

int day_number(const QDate& date) { return static_cast<int>(day_zero.daysTo(date)); }

QDate date_of_day_number(int day) { return day_zero.addDays(day); }

int today_day_number() {
    if (today_hook()) return today_hook()();
    return day_number(QDate::currentDate());
}

void set_today_hook(std::function<int()> hook) { today_hook() = std::move(hook); }

}  // namespace wavrell
