// The board API (tamrel*) with arbitrary arguments on a bus of zero to three default boards, the
// card prompt (shown when several boards match) reading its answer from the input. Every board
// opened is closed at the end, and then no device handle and no registration may be left.
//
// The caller's arrays are as long as the API says: three control bytes for tamreljsset, and for
// tamreljs 3 * group + 3 counts, which limits the groups read to 0..4095 (the harness cannot back
// a larger group with memory). tamreljsset takes any group.
#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz_bus.h"
#include "zarerera.h"

namespace {

constexpr uint32_t kMaxReadGroup = 4095;

uint32_t AnyArg(FuzzedDataProvider& in, uint32_t small) {
  return in.ConsumeBool() ? in.ConsumeIntegralInRange<uint32_t>(0, small)
                          : in.ConsumeIntegral<uint32_t>();
}

void RunCalls(FuzzedDataProvider& in, ZarereraCard card) {
  std::vector<uint32_t> values;
  for (int call = 0; call < 32 && in.remaining_bytes() > 0; ++call) {
    const uint32_t reserved = in.ConsumeIntegral<uint32_t>();
    switch (in.ConsumeIntegralInRange<int>(0, 5)) {
      case 0:
        (void)tamreldi(card);
        break;
      case 1:
        tamreldo(card, reserved, in.ConsumeIntegral<uint32_t>());
        break;
      case 2:
        (void)tamrelread(card, reserved, AnyArg(in, 0x40));
        break;
      case 3: {
        const uint32_t offset = AnyArg(in, 0x40);
        tamrelwrite(card, reserved, offset, in.ConsumeIntegral<uint32_t>());
        break;
      }
      case 4: {
        const uint8_t controls[3] = {in.ConsumeIntegral<uint8_t>(), in.ConsumeIntegral<uint8_t>(),
                                     in.ConsumeIntegral<uint8_t>()};
        tamreljsset(card, reserved, in.ConsumeBool() ? controls : nullptr, AnyArg(in, 8));
        break;
      }
      default: {
        const uint32_t group = in.ConsumeIntegralInRange<uint32_t>(0, kMaxReadGroup);
        values.assign(3 * group + 3, 0);
        tamreljs(card, reserved, in.ConsumeBool() ? values.data() : nullptr, group);
        break;
      }
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider in(data, size);
  sim::Simulator simulator;
  simulator.set_logging(false);
  const int boards = in.ConsumeIntegralInRange<int>(0, 3);
  for (int i = 0; i < boards; ++i) {
    sim::BoardConfig layout;
    layout.slot = 5 + static_cast<uint32_t>(i);
    fuzz::AddBoard(simulator, in, layout);
  }
  sim::ScopedInstall install(simulator);
  fuzz::ScopedConsole console(in.ConsumeRandomLengthString(64));

  std::vector<ZarereraCard> cards;
  const int opens = in.ConsumeIntegralInRange<int>(1, 3);
  for (int i = 0; i < opens; ++i) {
    const uint32_t vendor = in.ConsumeBool() ? 0 : AnyArg(in, 0xFFFF);
    const uint32_t device = AnyArg(in, 0xFFFF);
    const uint32_t reserved = in.ConsumeIntegral<uint32_t>();
    ZarereraCard card = tamrelcheck(vendor, device, reserved, AnyArg(in, 4));
    if (card != nullptr) cards.push_back(card);
  }
  RunCalls(in,
           cards.empty() ? nullptr : cards[in.ConsumeIntegralInRange<size_t>(0, cards.size() - 1)]);
  for (ZarereraCard card : cards) fuzz::Check(tamrelclose(card) == 1, "board_api", "close != 1");
  fuzz::Check(tamrelclose(nullptr) == 1, "board_api", "close(NULL) != 1");
  fuzz::CheckNothingLeft(simulator, "board_api");
  return 0;
}
