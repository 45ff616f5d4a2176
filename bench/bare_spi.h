// SPDX-License-Identifier: MIT
#pragma once

#include <linux/spi/spidev.h>
#include <sys/ioctl.h>

#include <cstdint>

// The bare spidev road the benchmarks measure the board against: one SPI_IOC_MESSAGE of a
// KT31x frame's three bytes in normal operation, at 1 MHz.
inline void BareSpiFrame(int fd, std::int32_t code) {
  std::uint8_t bytes[3] = {0, static_cast<std::uint8_t>(code >> 8),
                           static_cast<std::uint8_t>(code)};
  spi_ioc_transfer message{};
  message.tx_buf = reinterpret_cast<std::uintptr_t>(bytes);
  message.len = 3;
  message.speed_hz = 1'000'000;
  message.bits_per_word = 8;
  ioctl(fd, SPI_IOC_MESSAGE(1), &message);
}
