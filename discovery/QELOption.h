#pragma once
// QELOption: the name of an add-on option of a synthesiser (for example
// "FX2"). Constant once made and shared by std::shared_ptr<const QELOption>;
// the object holds one owned pointer to its name and copies deeply.

#include <memory>
#include <string>

namespace Qel {

class QELOption {
public:
    explicit QELOption(std::string name);
    QELOption(const QELOption& other);
    QELOption& operator=(const QELOption& other);
    ~QELOption();

    const std::string& Name() const { return *name_; }

private:
    std::unique_ptr<const std::string> name_;
};

}  // namespace Qel
