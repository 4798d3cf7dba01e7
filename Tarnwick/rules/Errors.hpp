#pragma once
// The library's two kinds of failure: a text thrown as an error (its what() is the text and
// nothing else), and a broken invariant that ends the program unless the host catches it.

#include <stdexcept>
#include <string>

namespace tarnwick {

class TextError : public std::runtime_error {
public:
    explicit TextError(const std::string& text) : std::runtime_error(text) {}
};

class FatalError : public std::runtime_error {
public:
    explicit FatalError(const std::string& message) : std::runtime_error(message) {}
};

} // namespace tarnwick
