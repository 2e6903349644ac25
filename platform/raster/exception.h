// The exception family of edgedom: every failure a user may see is an Exception whose
// message says what failed, on which file or picture, and what to do about it.
#pragma once

#include <exception>
#include <string>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const char *what() const noexcept override { return message_.c_str(); }
    const std::string &Message() const noexcept { return message_; }

private:
    std::string message_;
};
