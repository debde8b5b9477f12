// Tests that look at what the renderer prints keep one of these: while it
// lives, the user and error channels are collected into its two strings
// instead of printed; when it goes, both channels print again. Reports are
// sent under the report library's lock, so workers may report concurrently.
#pragma once

#include <string>

#include "platform/report.h"

namespace sky::test {

class CapturedReports {
public:
    CapturedReports() {
        active() = this;
        rptSetUserCB([](const char* text) { active()->user += text; });
        rptSetErrorCB([](const char* text) { active()->errors += text; });
    }
    ~CapturedReports() {
        rptSetUserCB(nullptr);
        rptSetErrorCB(nullptr);
        active() = nullptr;
    }
    CapturedReports(const CapturedReports&) = delete;
    CapturedReports& operator=(const CapturedReports&) = delete;

    std::string user;    // the user channel's text since this was made
    std::string errors;  // the error channel's

private:
    static CapturedReports*& active() {
        static CapturedReports* current = nullptr;
        return current;
    }
};

}  // namespace sky::test
