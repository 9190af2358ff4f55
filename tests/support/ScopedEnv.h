#pragma once
// An environment variable set for the life of the object; what it held before comes back
// afterwards, unset included.

#include <cstdlib>
#include <optional>
#include <string>
#include <utility>

namespace zz_test {

class ScopedEnv {
public:
    ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
        if (const char* previous = std::getenv(name_.c_str()))
            previous_ = previous;
        Set(value);
    }
    ~ScopedEnv() {
        if (previous_)
            ::setenv(name_.c_str(), previous_->c_str(), 1);
        else
            ::unsetenv(name_.c_str());
    }
    ScopedEnv(const ScopedEnv&) = delete;
    ScopedEnv& operator=(const ScopedEnv&) = delete;

    void Set(const std::string& value) const { ::setenv(name_.c_str(), value.c_str(), 1); }

private:
    std::string name_;
    std::optional<std::string> previous_;
};

} // namespace zz_test
