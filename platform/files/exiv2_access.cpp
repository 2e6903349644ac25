#include "exiv2_access.h"

#include <algorithm>

namespace {

std::mutex exiv2InUse;

// The access whose thread holds exiv2 now; exiv2 calls its message handler on that thread.
thread_local Exiv2Access *current = nullptr;

// exiv2's setup is global and not thread-safe itself, so it is done once, before the first use.
void SetUp(Exiv2::LogMsg::Handler handler)
{
    static std::once_flag once;
    std::call_once(once, [handler] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::warn);
        Exiv2::LogMsg::setHandler(handler);
        // Every call goes through an Exiv2Access, which serialises them: the toolkit needs no
        // lock of its own.
        Exiv2::XmpParser::initialize();
    });
}

} // namespace

Exiv2Access::Exiv2Access()
{
    SetUp(&Exiv2Access::Collect);
    lock_ = std::unique_lock(exiv2InUse);
    current = this;
}

Exiv2Access::~Exiv2Access() { current = nullptr; }

void Exiv2Access::Collect(int level, const char *message)
{
    if (current == nullptr) // a message outside any access (none is expected) goes nowhere
        return;
    if (current->firstWarning_.empty())
        current->firstWarning_ = message;
    if (level >= Exiv2::LogMsg::error && current->firstError_.empty())
        current->firstError_ = message;
}

std::string Exiv2Access::Reason(std::string words)
{
    std::replace(words.begin(), words.end(), '\n', ' ');
    while (!words.empty() && (words.back() == '.' || words.back() == ' '))
        words.pop_back();
    return words;
}
