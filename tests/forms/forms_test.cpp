// SPDX-License-Identifier: MIT
// What the windows' handlers do, once for both front ends: user sessions as tables of steps,
// run over views of plain values (the toolkits' windows stand in nowhere here), through the
// board the test program was linked with and the simulated board, whose trace says what
// arrived. The Qt and Win32 window suites check only what is their toolkit's own: that the
// controls reach these handlers, keys, tab order, focus marks and looks.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "forms/design.h"
#include "forms/device_form_logic.h"
#include "forms/main_form_logic.h"
#include "forms/program.h"
#include "forms/spi_form_logic.h"
#include "link/vendor_board.h"
#include "tests/support/test_support.h"

namespace kt::forms {
namespace {

/// @brief A message box as the handlers asked for it.
struct Shown {
  std::string Text{};
  int Style;
  std::string Caption;
};

/// @brief The part every fake window shares: its boxes and whether it was closed.
struct FakeForm {
  void Box(const std::string& text, int style, const std::string& caption) {
    boxes.push_back({text, style, caption});
  }
  std::vector<Shown> boxes;
  bool closed = false;
};

/// @brief Option buttons as the toolkits behave: selecting one that was not selected raises
/// its click.
template <typename Logic>
void Select(std::optional<std::size_t>& selected, Logic& logic, std::size_t option) {
  if (selected == option) return;
  selected = option;
  logic.Option_Click(option);
}

class FakeDesktop;

class FakeDevice : public DeviceView, public FakeForm {
 public:
  explicit FakeDevice(FakeDesktop& desktop);
  void SelectOption(std::size_t row) override { Select(selected, logic, row); }
  void FocusOption(std::size_t row) override { focused = row; }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    Box(text, style, caption);
  }
  void Close() override { closed = true; }

  std::optional<std::size_t> selected;
  std::size_t focused = 99;
  DeviceFormLogic logic;
};

class FakeMain : public MainView, public FakeForm {
 public:
  explicit FakeMain(FakeDesktop& desktop);
  void SelectOption(std::size_t option) override {
    if (!opened) opened = option;
    Select(selected, logic, option);
  }
  void FocusOption(std::size_t option) override { focused = option; }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    Box(text, style, caption);
  }
  void Close() override {
    closed = true;
    int cancel = 0;
    logic.Form_Unload(cancel);
  }
  [[nodiscard]] std::string EntryText() const override { return text; }
  void SetEntryText(const std::string& entry) override { text = entry; }
  void FocusEntry() override { ++entryFocused; }
  [[nodiscard]] std::string FormatCaption() const override { return caption; }
  void SetFormatCaption(const std::string& format) override { caption = format; }

  std::optional<std::size_t> selected;
  std::optional<std::size_t> opened;  ///< the option selected first, by the load
  std::size_t focused = 99;
  std::string text = design::main::kText1;
  std::string caption = design::main::kCommand1;
  int entryFocused = 0;
  MainFormLogic logic;
};

class FakeSpi : public SpiView, public FakeForm {
 public:
  explicit FakeSpi(FakeDesktop& desktop);
  [[nodiscard]] std::string BitsText() const override { return bits; }
  [[nodiscard]] std::string DataText() const override { return data; }
  void SetLamp(unsigned colour) override { lamp = colour; }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    Box(text, style, caption);
  }
  void Close() override {
    closed = true;
    int cancel = 0;
    logic.Form_Unload(cancel);
  }

  std::string bits = design::spi::kText2;
  std::string data = design::spi::kText1;
  unsigned lamp = 0;
  SpiFormLogic logic;
};

/// @brief The program's windows, each created once and loaded when first shown.
class FakeDesktop : public Desktop {
 public:
  void ShowDeviceForm() override { Show(device); }
  void ShowMainForm() override { Show(main); }
  void ShowSpiForm() override { Show(spi); }
  void ShowAbout() override { ++abouts; }
  void MsgBox(const std::string& text, int style, const std::string& caption) override {
    boxes.push_back({text, style, caption});
  }
  void Quit(int status) override { ended = status; }
  void SetBusy(bool busy) override {
    busyDepth += busy ? 1 : -1;
    maxBusy = std::max(maxBusy, busyDepth);
    if (busy) ++busyTimes;
  }

  std::unique_ptr<FakeDevice> device;
  std::unique_ptr<FakeMain> main;
  std::unique_ptr<FakeSpi> spi;
  std::vector<Shown> boxes;
  std::optional<int> ended;
  int abouts = 0;
  int busyDepth = 0;
  int maxBusy = 0;
  int busyTimes = 0;  ///< how often the wait cursor was put up

 private:
  template <typename Form>
  void Show(std::unique_ptr<Form>& form) {
    if (form) return;
    form = std::make_unique<Form>(*this);
    form->logic.Form_Load();
  }
};

FakeDevice::FakeDevice(FakeDesktop& desktop) : logic(App(), TheBoard(), desktop, *this) {}
FakeMain::FakeMain(FakeDesktop& desktop) : logic(App(), TheBoard(), desktop, *this) {}
FakeSpi::FakeSpi(FakeDesktop& desktop) : logic(App(), TheBoard(), desktop, *this) {}

/// @brief One thing a user does.
struct Step {
  enum Action {
    Device,     ///< picks the device option n
    Ok,         ///< OK in the device window
    Type,       ///< replaces the entry box's text
    Key,        ///< types character n into the entry box
    Update,     ///< "Update DAC"
    Format,     ///< the format button
    Mode,       ///< picks the power-down option n
    About,      ///< File > About
    Exit,       ///< File > Exit
    CloseMain,  ///< closes the main window
    SpiBits,    ///< the SPI test window's frame length box
    SpiData,    ///< its data box
    SpiWrite,   ///< "SPI Write"
    CloseSpi,   ///< closes the SPI test window
  } Kind;
  int N = 0;
  std::string Text{};
};

/// @brief A user session and what it must leave behind.
struct Session {
  const char* Name;
  bool SpiTest = false;  ///< starts with the SPI test window instead of the device window
  const char* LoadStatus = nullptr;  ///< forced firmware load status; "fail": the generation's
  std::vector<Step> Steps{};
  std::vector<std::int32_t> Words{};  ///< the frame words the board received, in order
  std::int16_t FrameBits = 24;        ///< the length of every frame in Words
  std::pair<int, int> Bits{24, 16};   ///< FrameBits and DataBits afterwards
  std::string Box{};                  ///< the entry box afterwards (main window only)
  std::string Caption = "Hex";        ///< the format button and EntryFormat afterwards
  int EntryFocused = 0;               ///< how often a trap put the focus into the box
  std::vector<std::string> Boxes{};   ///< message boxes any window showed, in order
  bool MainOpen = true;
  std::optional<int> Ended{};  ///< the program's exit status, once ended
  unsigned Lamp = 0;           ///< the SPI test window's lamp
  int Connections = 1;         ///< connection attempts (device OK or SPI load)
};

void PrintTo(const Session& session, std::ostream* out) { *out << session.Name; }

constexpr const char* kFailure = "Communication Failure - Check USB connections";

Step Do(Step::Action kind, int n = 0) { return {kind, n, {}}; }
Step Typed(Step::Action kind, std::string text) { return {kind, 0, std::move(text)}; }

// The design's sessions: start-up, device choices, OK and its failure, each way the main
// window sends, the format switch, the end of the program, and the SPI test window.
const Session kSessions[] = {
    {.Name = "StartUpChoosesTheKT300",
     .Steps = {},
     .Bits = {16, 14},
     .Box = "0",
     .MainOpen = false,
     .Connections = 0},
    {.Name = "EachDeviceChoiceSetsFrameAndDataBitsAsAPair",
     .Steps = {Do(Step::Device, 3), Do(Step::Device, 0)},
     .Bits = {16, 14},
     .MainOpen = false,
     .Connections = 0},
    {.Name = "TheLastChoiceIsTheOneOkTakes",
     .Steps = {Do(Step::Device, 0), Do(Step::Device, 4), Do(Step::Ok)},
     .Words = {0},
     .Box = "0000"},
    {.Name = "OkWithTheKT300SendsItsSixteenBitFrame",
     .Steps = {Do(Step::Ok)},
     .Words = {0},
     .FrameBits = 16,
     .Bits = {16, 14},
     .Box = "0000"},
    {.Name = "FailedOkWarnsAndStaysEveryTime",
     .LoadStatus = "fail",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Do(Step::Ok), Do(Step::Ok)},
     .Boxes = {kFailure, kFailure, kFailure},
     .MainOpen = false,
     .Connections = 3},
    {.Name = "PowerDownOptionsSendTheirCodesAboveTheBoxValue",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Typed(Step::Type, "1234"), Do(Step::Mode, 1),
               Do(Step::Mode, 2), Do(Step::Mode, 3), Do(Step::Mode, 0)},
     .Words = {0, 0x21234, 0x11234, 0x31234, 0x01234},
     .Box = "1234"},
    {.Name = "EnterRunsOneUpdateAndOtherKeysNone",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Typed(Step::Type, "abc"), Do(Step::Key, 'x'),
               Do(Step::Key, 13)},
     .Words = {0, 0xABC},
     .Box = "0ABC"},
    {.Name = "UpdateButtonClampsToTheDevicesRange",
     .Steps = {Do(Step::Device, 0), Do(Step::Ok), Typed(Step::Type, "4000"), Do(Step::Update),
               Do(Step::Mode, 3), Typed(Step::Type, "1234"), Do(Step::Update)},
     .Words = {0, 0x3FFF, 0xFFFF, 0xD234},
     .FrameBits = 16,
     .Bits = {16, 14},
     .Box = "1234"},
    {.Name = "FormatButtonConvertsWithoutSending",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Typed(Step::Type, "0ABC"), Do(Step::Format)},
     .Words = {0},
     .Box = "2748",
     .Caption = "Dec"},
    {.Name = "DecimalEntriesAreReadInTheNewFormat",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Do(Step::Format), Typed(Step::Type, "70000"),
               Do(Step::Key, 13), Typed(Step::Type, "12.5"), Do(Step::Update)},
     .Words = {0, 0xFFFF, 0xC},
     .Box = "12",
     .Caption = "Dec"},
    {.Name = "ABadEntryEmptiesTheBoxAndSendsNothing",
     .Steps = {Do(Step::Device, 1), Do(Step::Ok), Typed(Step::Type, "zz"), Do(Step::Update),
               Do(Step::Mode, 2)},
     .Words = {0, 0x10000},
     .Box = "0000",
     .EntryFocused = 1},
    {.Name = "ExitEndsTheProgramWithAboutOpen",
     .Steps = {Do(Step::Ok), Do(Step::About), Do(Step::Exit)},
     .Words = {0},
     .FrameBits = 16,
     .Bits = {16, 14},
     .Box = "0000",
     .Ended = 0},
    {.Name = "ClosingTheMainWindowEndsTheProgram",
     .Steps = {Do(Step::Ok), Do(Step::CloseMain), Do(Step::Exit)},
     .Words = {0},
     .FrameBits = 16,
     .Bits = {16, 14},
     .Box = "0000",
     .Ended = 0},
    {.Name = "SpiTestWindowLightsItsLampAndWritesRawFrames",
     .SpiTest = true,
     .Steps = {Do(Step::SpiWrite), Typed(Step::SpiData, "12G4"), Typed(Step::SpiBits, "25.5"),
               Do(Step::SpiWrite), Typed(Step::SpiBits, "40000"), Do(Step::SpiWrite),
               Typed(Step::SpiBits, "24"), Typed(Step::SpiData, "123456789"), Do(Step::SpiWrite),
               Do(Step::CloseSpi)},
     .Words = {0xFFFFFF, 0x12},
     .Bits = {26, 16},
     .MainOpen = false,
     .Ended = 0,
     .Lamp = design::kGreen},
    {.Name = "SpiTestLampStaysRedWhenTheLoadFails",
     .SpiTest = true,
     .LoadStatus = "fail",
     .Steps = {},
     .MainOpen = false,
     .Lamp = design::kRed},
};

class Forms : public ::testing::TestWithParam<Session> {
 protected:
  void SetUp() override { ResetProgram(); }
  void TearDown() override { ResetProgram(); }
};

void Perform(FakeDesktop& desktop, const Step& step) {
  FakeMain* main = desktop.main.get();
  FakeSpi* spi = desktop.spi.get();
  std::int16_t key = static_cast<std::int16_t>(step.N);
  switch (step.Kind) {
    case Step::Device:
      desktop.device->SelectOption(static_cast<std::size_t>(step.N));
      break;
    case Step::Ok:
      desktop.device->logic.Command1_Click();
      break;
    case Step::Type:
      main->text = step.Text;
      break;
    case Step::Key:
      main->logic.Text1_KeyPress(key);
      break;
    case Step::Update:
      main->logic.Command2_Click();
      break;
    case Step::Format:
      main->logic.Command1_Click();
      break;
    case Step::Mode:
      main->SelectOption(static_cast<std::size_t>(step.N));
      break;
    case Step::About:
      main->logic.MnuAbout_Click();
      break;
    case Step::Exit:
      main->logic.MnuExit_Click();
      break;
    case Step::CloseMain:
      main->Close();
      break;
    case Step::SpiBits:
      spi->bits = step.Text;
      break;
    case Step::SpiData:
      spi->data = step.Text;
      break;
    case Step::SpiWrite:
      spi->logic.Command1_Click();
      break;
    case Step::CloseSpi:
      spi->Close();
      break;
  }
}

TEST_P(Forms, Session) {
  const Session& session = GetParam();
  std::optional<test::ScopedEnv> load;
  if (session.LoadStatus) {
    const std::string status =
        std::string(session.LoadStatus) == "fail" ? test::FailingLoad() : session.LoadStatus;
    load.emplace("KT_SIM_LOAD_STATUS", status);
  }
  test::Trace trace;
  FakeDesktop desktop;
  link::VendorBoard& board = link::ProgramBoard();
  if (session.SpiTest) {
    MainSpiTest(board, desktop);
  } else {
    Main(board, desktop);
    EXPECT_EQ(desktop.device->selected, 0u) << "the device window opens with the KT300";
    EXPECT_EQ(desktop.device->focused, 0u);
  }
  for (const Step& step : session.Steps) Perform(desktop, step);

  std::vector<std::int32_t> words;
  for (const auto& frame : trace.Frames()) {
    words.push_back(frame["word"].get<std::int32_t>() & 0xFFFFFF);
    if (!session.SpiTest) {
      EXPECT_EQ(frame["frame_bits"], session.FrameBits);
    }
  }
  EXPECT_EQ(words, session.Words);
  // A second-generation connection searches, connects and downloads; the first loads.
  const std::size_t perConnection = test::Generation() == 2 ? 3 : 1;
  EXPECT_EQ(trace.Entries().size(), session.Connections * perConnection + words.size());
  EXPECT_EQ((std::pair<int, int>(App().FrameBits, App().DataBits)), session.Bits);
  EXPECT_EQ(App().EntryFormat, session.Caption);

  std::vector<std::string> boxes;
  for (const FakeForm* form : std::initializer_list<const FakeForm*>{
           desktop.device.get(), desktop.main.get(), desktop.spi.get()}) {
    if (!form) continue;
    for (const Shown& shown : form->boxes) {
      boxes.push_back(shown.Text);
      EXPECT_EQ(shown.Style, kExclamation);
      EXPECT_EQ(shown.Caption, "Error");
    }
  }
  if (session.SpiTest && session.Words.size() == 2) {
    // The SPI window's refusals name the value that did not fit.
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_NE(boxes[0].find("40000"), std::string::npos);
    EXPECT_NE(boxes[1].find("123456789"), std::string::npos);
  } else {
    EXPECT_EQ(boxes, session.Boxes);
  }
  EXPECT_TRUE(desktop.boxes.empty());

  EXPECT_EQ(desktop.main != nullptr, session.MainOpen);
  if (desktop.device) {
    EXPECT_EQ(desktop.device->closed, session.MainOpen);
  }
  if (FakeMain* main = desktop.main.get()) {
    EXPECT_EQ(main->opened, 0u) << "the main window opens in Normal";
    EXPECT_EQ(main->focused, 0u);
    EXPECT_EQ(main->text, session.Box);
    EXPECT_EQ(main->caption, session.Caption);
    EXPECT_EQ(main->entryFocused, session.EntryFocused);
  }
  if (desktop.spi) {
    EXPECT_EQ(desktop.spi->lamp, session.Lamp);
  }
  EXPECT_EQ(desktop.ended, session.Ended);
  EXPECT_EQ(ProgramEnding(), session.Ended.has_value());
  EXPECT_EQ(desktop.busyDepth, 0) << "every wait cursor is taken back";
  EXPECT_EQ(desktop.maxBusy > 0, session.Connections > 0 || !session.Words.empty());
}

INSTANTIATE_TEST_SUITE_P(Sessions, Forms, ::testing::ValuesIn(kSessions),
                         [](const auto& info) { return std::string(info.param.Name); });

// The generations' success tests differ: a positive load status is success in the first
// and failure in the second.
TEST(FormsByGeneration, APositiveLoadStatusIsSuccessOnlyInTheFirstGeneration) {
  ResetProgram();
  test::ScopedEnv positive("KT_SIM_LOAD_STATUS", "1");
  test::Trace trace;
  FakeDesktop desktop;
  Main(link::ProgramBoard(), desktop);
  desktop.device->logic.Command1_Click();
  const bool first = test::Generation() == 1;
  EXPECT_EQ(desktop.main != nullptr, first);
  EXPECT_EQ(trace.Frames().size(), first ? 1u : 0u);
  EXPECT_EQ(desktop.device->boxes.size(), first ? 0u : 1u);
  if (first) {
    EXPECT_EQ(TheBoard().LinkStatus, 0) << "the first frame's status";
  }
  ResetProgram();
}

// Every frame goes out under the wait cursor, whichever control sends it; what sends nothing
// puts none up.
TEST(FormsByGeneration, EveryFrameGoesOutUnderTheWaitCursor) {
  ResetProgram();
  test::Trace trace;
  FakeDesktop desktop;
  Main(link::ProgramBoard(), desktop);
  desktop.device->logic.Command1_Click();
  ASSERT_NE(desktop.main, nullptr);
  MainFormLogic& logic = desktop.main->logic;
  struct Row {
    const char* name;
    std::function<void()> act;
    int busy;
  };
  const Row rows[] = {
      {"Enter",
       [&] {
         std::int16_t key = 13;
         logic.Text1_KeyPress(key);
       },
       1},
      {"another key",
       [&] {
         std::int16_t key = 'x';
         logic.Text1_KeyPress(key);
       },
       0},
      {"Update DAC", [&] { logic.Command2_Click(); }, 1},
      {"a power-down mode", [&] { logic.Option_Click(2); }, 1},
      {"the format button", [&] { logic.Command1_Click(); }, 0},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    desktop.busyTimes = 0;
    const std::size_t before = trace.Frames().size();
    row.act();
    EXPECT_EQ(desktop.busyTimes, row.busy);
    EXPECT_EQ(trace.Frames().size() - before, static_cast<std::size_t>(row.busy));
  }
  ResetProgram();
}

// The SPI test window judges its load by the generation's rule: a positive status is the
// first generation's success, and lights the lamp there alone.
TEST(FormsByGeneration, TheSpiTestLampFollowsTheGenerationsRule) {
  ResetProgram();
  test::ScopedEnv positive("KT_SIM_LOAD_STATUS", "1");
  FakeDesktop desktop;
  MainSpiTest(link::ProgramBoard(), desktop);
  ASSERT_NE(desktop.spi, nullptr);
  EXPECT_EQ(desktop.spi->lamp, test::Generation() == 1 ? design::kGreen : design::kRed);
  ResetProgram();
}

}  // namespace
}  // namespace kt::forms
