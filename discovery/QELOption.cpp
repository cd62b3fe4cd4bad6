#include "discovery/QELOption.h"

#include <utility>

namespace Qel {

QELOption::QELOption(std::string name) : name_(std::make_unique<const std::string>(std::move(name))) {}

QELOption::QELOption(const QELOption& other) : name_(std::make_unique<const std::string>(*other.name_)) {}

QELOption& QELOption::operator=(const QELOption& other) {
    if (this != &other) {
        name_ = std::make_unique<const std::string>(*other.name_);
    }
    return *this;
}

QELOption::~QELOption() = default;

}  // namespace Qel
