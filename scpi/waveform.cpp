// SPDX-License-Identifier: MIT
// The function generator's commands: what plays at the next OUTPut ON, and playing it.
#include <fmt/format.h>

#include <cmath>

#include "dac/device_table.h"
#include "scpi/framing.h"
#include "scpi/session.h"

namespace kt::remote {

namespace {

// The fastest sample rate and frequency taken.
constexpr double kMaxRate = 1e6;
// What NCYCles? answers for INFinity, as SCPI gives an infinite value.
constexpr const char* kInfinity = "9.9E+37";

struct FunctionName {
  const char* Short;
  const char* Long;
};
constexpr FunctionName kFunctions[] = {{"SIN", "SINUSOID"},
                                       {"SQU", "SQUARE"},
                                       {"TRI", "TRIANGLE"},
                                       {"RAMP", "RAMP"},
                                       {"USER", "USER"}};

}  // namespace

Generator* Session::Waves() {
  Generator* generator = board_.Waveform();
  if (!generator) Queue(-241, "this board plays no waveform");
  return generator;
}

bool Session::Busy(const char* what) {
  const Generator* generator = board_.Waveform();
  if (!generator || !generator->Playing()) return false;
  Queue(-221, fmt::format("a waveform plays: OUTPut OFF or ABORt before {}", what));
  return true;
}

std::optional<double> Session::Positive(const std::string& text, double low, double high,
                                        const char* what) {
  const Number number = ReadNumber(text);
  if (number.Error) {
    Queue(number.Error, fmt::format("{} {}", what, text));
    return std::nullopt;
  }
  if (!(number.Value >= low && number.Value <= high && number.Value > 0)) {
    Queue(-222, fmt::format("{} {} is outside {}..{}", what, text, FormatNumber(low),
                            FormatNumber(high)));
    return std::nullopt;
  }
  return number.Value;
}

void Session::Function(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    call.Answers.push_back(generator->Setup.Function);
    return;
  }
  const std::string typed = Upper(call.Value());
  for (const FunctionName& name : kFunctions) {
    if (typed == name.Short || typed == name.Long) {
      generator->Setup.Function = name.Short;
      return;
    }
  }
  Queue(-224, "function " + call.Value());
}

void Session::Frequency(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    call.Answers.push_back(FormatNumber(generator->Setup.Frequency));
  } else if (const auto hz = Positive(call.Value(), 0, kMaxRate / 2, "frequency")) {
    generator->Setup.Frequency = *hz;
  }
}

void Session::SampleRate(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    call.Answers.push_back(FormatNumber(generator->Setup.Rate));
  } else if (const auto rate = Positive(call.Value(), 0, kMaxRate, "sample rate")) {
    generator->Setup.Rate = *rate;
  }
}

std::optional<double> Session::FullScale() const {
  const std::optional<double> vref = Vref();
  if (!vref) return std::nullopt;
  const auto bits = static_cast<std::int16_t>(board_.DataBits());
  return dac::IdealVolts(dac::LastCode(bits), bits, *vref);
}

// The amplitude and offset default to the full scale, which needs the reference to be told
// in volts.
void Session::AnswerVolts(const Call& call, std::optional<double> set, double share) {
  const std::optional<double> full = FullScale();
  if (!set && !full) {
    Queue(-221, "set VOLTage:REFerence first");
    return;
  }
  call.Answers.push_back(FormatNumber(set ? *set : *full * share));
}

void Session::Amplitude(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (!call.Query()) {
    if (const auto volts = Positive(call.Value(), 0, 1000, "amplitude"))
      generator->Setup.Amplitude = *volts;
    return;
  }
  AnswerVolts(call, generator->Setup.Amplitude, 1);
}

void Session::Offset(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (!call.Query()) {
    const Number number = ReadNumber(call.Value());
    if (number.Error)
      Queue(number.Error, "offset " + call.Value());
    else if (!(std::fabs(number.Value) <= 1000))
      Queue(-222, fmt::format("offset {} is outside -1000..1000", call.Value()));
    else
      generator->Setup.Offset = number.Value;
    return;
  }
  AnswerVolts(call, generator->Setup.Offset, 0.5);
}

void Session::Cycles(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    const auto cycles = generator->Setup.Cycles;
    call.Answers.push_back(cycles ? std::to_string(*cycles) : kInfinity);
    return;
  }
  const std::string typed = Upper(call.Value());
  if (typed == "INF" || typed == "INFINITY") {
    generator->Setup.Cycles.reset();
    return;
  }
  std::int64_t cycles = 0;
  if (Whole(call.Value(), 1, 1e12, "cycles", cycles))
    generator->Setup.Cycles = static_cast<std::uint64_t>(cycles);
}

// Codes, one a parameter, or 16-bit codes in a definite-length block in the byte order
// FORMat:BORDer says; the whole list or nothing.
void Session::UserData(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  const std::int32_t last = dac::LastCode(static_cast<std::int16_t>(board_.DataBits()));
  std::vector<std::int32_t> codes;
  for (const std::string& text : call.Typed.Parameters) {
    const auto block = BlockData(text);
    if (!block) {
      std::int64_t code = 0;
      if (!Whole(text, 0, last, "sample", code)) return;
      codes.push_back(static_cast<std::int32_t>(code));
      continue;
    }
    if (block->size() % 2 != 0) {
      Queue(-161, fmt::format("a block of 16-bit codes holds {} bytes", block->size()));
      return;
    }
    for (std::size_t at = 0; at < block->size(); at += 2) {
      const auto first = static_cast<unsigned char>((*block)[at]);
      const auto second = static_cast<unsigned char>((*block)[at + 1]);
      const std::int32_t code =
          generator->Setup.Swapped ? first | second << 8 : first << 8 | second;
      if (code > last) {
        Queue(-222, fmt::format("sample {} of the block, {}, is beyond the last code {}", at / 2,
                                code, last));
        return;
      }
      codes.push_back(code);
    }
  }
  generator->Setup.User = std::move(codes);
}

void Session::ByteOrder(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    call.Answers.push_back(generator->Setup.Swapped ? "SWAP" : "NORM");
    return;
  }
  const std::string typed = Upper(call.Value());
  if (typed == "NORM" || typed == "NORMAL")
    generator->Setup.Swapped = false;
  else if (typed == "SWAP" || typed == "SWAPPED")
    generator->Setup.Swapped = true;
  else
    Queue(-224, "byte order " + call.Value());
}

void Session::UserPoints(const Call& call) {
  if (Generator* generator = Waves())
    call.Answers.push_back(std::to_string(generator->Setup.User.size()));
}

void Session::Output(const Call& call) {
  Generator* generator = Waves();
  if (!generator) return;
  if (call.Query()) {
    call.Answers.push_back(generator->Playing() ? "1" : "0");
    return;
  }
  const std::string typed = Upper(call.Value());
  if (typed == "OFF" || typed == "0") {
    generator->Stop();
    return;
  }
  if (typed != "ON" && typed != "1") {
    Queue(-224, "output state " + call.Value());
    return;
  }
  const WaveSetup& setup = generator->Setup;
  const auto bits = static_cast<std::int16_t>(board_.DataBits());
  const std::int32_t last = dac::LastCode(bits);
  wave::Source source;
  if (setup.Function == "USER") {
    if (setup.User.empty()) {
      Queue(-221, "DATA:DAC holds no samples");
      return;
    }
    for (const std::int32_t code : setup.User) {
      if (code > last) {
        Queue(-221, fmt::format("sample {} is beyond the {}'s last code {}", code, board_.Device(),
                                last));
        return;
      }
    }
    source.What = setup.User;
  } else {
    if (setup.Frequency > setup.Rate / 2) {
      Queue(-221, fmt::format("frequency {} Hz is above half the sample rate",
                              FormatNumber(setup.Frequency)));
      return;
    }
    wave::Periodic shape{*wave::ShapeNamed(setup.Function), setup.Frequency, 0, last};
    if (setup.Amplitude || setup.Offset) {
      const auto vref = Vref();
      const std::optional<double> scale = FullScale();
      if (!scale) {
        Queue(-221, "set VOLTage:REFerence first");
        return;
      }
      const double full = *scale;
      const double amplitude = setup.Amplitude.value_or(full),
                   offset = setup.Offset.value_or(full / 2);
      const auto low = wave::CodeOfVolts(offset - amplitude / 2, bits, *vref);
      const auto high = wave::CodeOfVolts(offset + amplitude / 2, bits, *vref);
      if (!low || !high) {
        Queue(-222, fmt::format("offset {} V and amplitude {} V reach beyond 0..{} V",
                                FormatNumber(offset), FormatNumber(amplitude), FormatNumber(full)));
        return;
      }
      shape.Low = *low;
      shape.High = *high;
    }
    source.What = shape;
  }
  wave::Pace pace{setup.Rate, std::nullopt, false};
  if (setup.Cycles) pace.Samples = source.SamplesIn(*setup.Cycles, setup.Rate);
  generator->Start(source, pace);
}

void Session::Abort(const Call&) {
  if (Generator* generator = Waves()) generator->Stop();
}

}  // namespace kt::remote
