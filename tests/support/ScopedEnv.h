#pragma once
// An environment variable set (or, given no value, unset) for the life of the object; what it
// held before comes back afterwards, unset included.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace zz_test {

class ScopedEnv {
public:
    ScopedEnv(std::string name, const char* value) : name_(std::move(name)) {
        if (const char* previous = std::getenv(name_.c_str()))
            previous_ = previous;
        Set(value);
    }
    ScopedEnv(std::string name, const std::string& value)
        : ScopedEnv(std::move(name), value.c_str()) {}
    ~ScopedEnv() { Set(previous_ ? previous_->c_str() : nullptr); }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const char* value) const {
        if (value)
            ::setenv(name_.c_str(), value, 1);
        else
            ::unsetenv(name_.c_str());
    }
    void Set(const std::string& value) const { Set(value.c_str()); }

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace zz_test
