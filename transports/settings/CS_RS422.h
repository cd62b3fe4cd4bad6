#pragma once
// CS_RS422: the line speed of a Qel System's RS-422 port.
// Image, 4 bytes: BaudRate, least significant byte first. Default 115200
// (image 00 C2 01 00). ProcessData cuts longer input to 4 bytes and fills
// shorter input with zero bytes, then reads BaudRate from the 4 bytes.
//
// One owned implementation record; copies are deep. No locks.

#include "transports/settings/IConnectionSettings.h"

#include <memory>

namespace Qel {

class CS_RS422 : public IConnectionSettings {
public:
    static constexpr std::size_t kImageSize = 4;

    CS_RS422();
    CS_RS422(const CS_RS422& other);
    CS_RS422& operator=(const CS_RS422& other);
    ~CS_RS422() override;

    // "CS_RS422", the same string object for the life of the program.
    static const std::string& KindName();

    const std::string& Ident() const override;
    const std::vector<std::uint8_t>& Data() const override;
    void ProcessData(const std::vector<std::uint8_t>& bytes) override;

    std::uint32_t BaudRate() const;
    // Stores the rate and rebuilds the image.
    void SetBaudRate(std::uint32_t baud_rate);

private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace Qel
