// `bind` and `unbind` over a fabricated sysfs tree (never this machine's bus): what each prints
// and what reached the kernel's attributes (driver_override, the driver's unbind, drivers_probe),
// and that a function held by another driver, or a dry run, writes nothing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "run_command.h"

namespace {

namespace fs = std::filesystem;
using cmdtest::Result;
using cmdtest::Zarerera;

constexpr char kBindBoard[] = "0000:00:05.0";
constexpr char kBindOther[] = "0000:00:05.1";

// bus/pci/devices/<function>, bus/pci/drivers/<driver>/unbind, bus/pci/drivers_probe and
// kernel/iommu_groups/<n>/devices/<function>, links as the kernel makes them.
class BindTree {
 public:
  BindTree() {
    std::string pattern = (fs::temp_directory_path() / "zarerera_bind_XXXXXX").string();
    if (mkdtemp(pattern.data()) != nullptr) top_ = pattern;
    fs::create_directories(Devices());
    Write("bus/pci/drivers_probe", "");
  }
  ~BindTree() {
    std::error_code ec;
    if (!top_.empty()) fs::remove_all(top_, ec);
  }
  std::string Devices() const { return top_ + "/bus/pci/devices"; }

  void AddFunction(const std::string& name, const std::string& driver, const std::string& group) {
    const std::string dir = "bus/pci/devices/" + name;
    fs::create_directories(top_ + "/" + dir);
    Write(dir + "/vendor", "0x9050\n");  // the board's IDs, as its EEPROM gives them
    Write(dir + "/device", "0x10b5\n");
    Write(dir + "/driver_override", "(null)\n");
    if (!driver.empty()) {
      fs::create_directories(top_ + "/bus/pci/drivers/" + driver);
      Write("bus/pci/drivers/" + driver + "/unbind", "");
      fs::create_directory_symlink("../../drivers/" + driver, top_ + "/" + dir + "/driver");
    }
    if (!group.empty()) {
      const std::string g = "kernel/iommu_groups/" + group;
      fs::create_directories(top_ + "/" + g + "/devices");
      fs::create_directory_symlink("../../../../" + g, top_ + "/" + dir + "/iommu_group");
      fs::create_directory_symlink("../../../../" + dir, top_ + "/" + g + "/devices/" + name);
    }
  }
  void Write(const std::string& path, const std::string& text) const {
    std::ofstream(top_ + "/" + path) << text;
  }
  std::string Read(const std::string& path) const {
    std::ifstream in(top_ + "/" + path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
  }
  // What the attributes hold now: driver_override of the board, the unbind files, drivers_probe.
  std::string Written(const std::string& driver) const {
    return "override=" + Read(std::string("bus/pci/devices/") + kBindBoard + "/driver_override") +
           "|unbind=" + Read("bus/pci/drivers/" + driver + "/unbind") +
           "|probe=" + Read("bus/pci/drivers_probe");
  }

 private:
  std::string top_;
};

class BindTest : public ::testing::Test {
 protected:
  Result Run(std::vector<std::string> args) const {
    args.insert(args.begin(), "--sysfs-root=" + tree_.Devices());
    return Zarerera(args);
  }
  std::string Path(const std::string& rest) const { return tree_.Devices() + "/" + rest; }
  BindTree tree_;
};

TEST_F(BindTest, AFunctionHeldByAnotherDriverIsLeftAloneWithoutForce) {
  tree_.AddFunction(kBindBoard, "e1000e", "12");
  tree_.AddFunction(kBindOther, "", "12");
  const Result r = Run({"bind", "-s", "00:05.0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out, "IOMMU group 12: 0000:00:05.0 (e1000e), 0000:00:05.1 (no driver)\n");
  EXPECT_EQ(r.err,
            "zarerera: 0000:00:05.0 is held by e1000e: left alone (--force takes it from "
            "e1000e)\n");
  EXPECT_EQ(tree_.Written("e1000e"), "override=(null)\n|unbind=|probe=");
}

TEST_F(BindTest, ADryRunShowsEveryWriteAndMakesNone) {
  tree_.AddFunction(kBindBoard, "e1000e", "12");
  const Result r = Run({"bind", "--force", "-n"});  // the board by its IDs
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "IOMMU group 12: 0000:00:05.0 (e1000e)\n"
            "would write 'vfio-pci' to " +
                Path("0000:00:05.0/driver_override") +
                "\n"
                "would write '0000:00:05.0' to " +
                Path("0000:00:05.0/driver/unbind") +
                "\n"
                "would write '0000:00:05.0' to " +
                Path("../drivers_probe") + "\n");
  EXPECT_EQ(tree_.Written("e1000e"), "override=(null)\n|unbind=|probe=");
}

TEST_F(BindTest, ForceWritesOverrideUnbindAndProbeAndSaysWhenVfioPciDidNotTakeIt) {
  tree_.AddFunction(kBindBoard, "e1000e", "12");
  tree_.AddFunction(kBindOther, "igb", "12");
  const Result r = Run({"bind", "-s", "00:05.0", "--force"});
  EXPECT_EQ(tree_.Written("e1000e"), "override=vfio-pci|unbind=0000:00:05.0|probe=0000:00:05.0");
  EXPECT_EQ(r.out,
            "IOMMU group 12: 0000:00:05.0 (e1000e), 0000:00:05.1 (igb)\n"
            "writing 'vfio-pci' to " +
                Path("0000:00:05.0/driver_override") +
                "\n"
                "writing '0000:00:05.0' to " +
                Path("0000:00:05.0/driver/unbind") +
                "\n"
                "writing '0000:00:05.0' to " +
                Path("../drivers_probe") +
                "\n"
                "the group is not viable while 0000:00:05.1 (igb) keeps its driver: bind it "
                "too\n");
  // A tree has no kernel behind it: the function still shows its old driver.
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.err,
            "zarerera: vfio-pci did not take 0000:00:05.0 (now e1000e; is the vfio-pci "
            "module loaded?)\n");
}

TEST_F(BindTest, AFunctionWithNoDriverNeedsNoUnbindAndOneWithoutAGroupIsRefused) {
  tree_.AddFunction(kBindBoard, "", "3");
  Result r = Run({"bind", "-s", "00:05.0"});
  EXPECT_EQ(tree_.Read(std::string("bus/pci/devices/") + kBindBoard + "/driver_override"),
            "vfio-pci");
  EXPECT_EQ(tree_.Read("bus/pci/drivers_probe"), "0000:00:05.0");
  EXPECT_EQ(r.out.find("driver/unbind"), std::string::npos) << r.out;

  tree_.AddFunction("0000:00:07.0", "", "");
  r = Run({"bind", "-s", "00:07.0"});
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_EQ(r.out,
            "0000:00:07.0 has no IOMMU group: VFIO needs an IOMMU (intel_iommu=on or "
            "amd_iommu=on)\n");
  EXPECT_EQ(r.err, "zarerera: 0000:00:07.0 stays with no driver: no IOMMU group\n");
}

TEST_F(BindTest, UnbindGivesAVfioFunctionBackAndLeavesOthersAlone) {
  tree_.AddFunction(kBindBoard, "vfio-pci", "12");
  Result r = Run({"bind"});
  EXPECT_EQ(r.exitCode, 0) << r.err;
  EXPECT_EQ(r.out,
            "IOMMU group 12: 0000:00:05.0 (vfio-pci)\n"
            "0000:00:05.0 is bound to vfio-pci already: /dev/vfio/12\n");
  r = Run({"unbind"});
  EXPECT_EQ(tree_.Written("vfio-pci"), "override=\n|unbind=0000:00:05.0|probe=0000:00:05.0");
  EXPECT_EQ(r.exitCode, 1) << "the tree keeps its link";
  EXPECT_EQ(r.err, "zarerera: 0000:00:05.0 is still bound to vfio-pci\n");

  tree_.AddFunction("0000:00:06.0", "e1000e", "13");
  r = Run({"unbind", "-s", "00:06.0"});
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out,
            "IOMMU group 13: 0000:00:06.0 (e1000e)\n"
            "0000:00:06.0 is not bound to vfio-pci (e1000e): nothing to do\n");
  EXPECT_EQ(tree_.Read("bus/pci/drivers/e1000e/unbind"), "");
}

TEST_F(BindTest, TheSimulatedMachineHasNothingToBind) {
  const Result r = Zarerera({"--driver=sim", "bind"});
  EXPECT_EQ(r.exitCode, 2);
  EXPECT_EQ(r.err, "zarerera: bind and unbind work on the real bus (Linux), not --driver=sim\n" +
                       cmdtest::kTryHelp);
}

}  // namespace
