#include "common/side_by_side.h"

#include <exception>
#include <system_error>
#include <thread>

namespace wavrell {

void side_by_side(const std::function<void()>& first, const std::function<void()>& second) {
    std::exception_ptr error;
    std::thread helper;
    try {
        helper = std::thread([&] {
            try {
                second();
            } catch (...) {
                error = std::current_exception();
            }
        });
    } catch (const std::system_error&) {
        first();
        second();
        return;
    }
    try {
        first();
    } catch (...) {
        helper.join();
        throw;
    }
    helper.join();
    if (error) std::rethrow_exception(error);
}

}  // namespace wavrell
