// One whole session on the real PC's source, as the user runs it (an automation script on the
// headless front end): the offer and the download from the map-update service over HTTP on
// loopback, the transfer onto the unit and its eject; afterwards the unit's volume is checked
// with fsck.fat and mtools, and the copied files byte for byte.
//
// The unit: its USB device comes from a umockdev testbed whose disk carries the number of a loop
// device with a FAT volume (mkfs.vfat, seeded by mmd/mcopy), which the image step writes raw.
// This kernel mounts no FAT, so the letter's folder is an ext4 loop device holding the same
// files, which udisks2 (started by the test) mounts; the letter table's test hook gives it to
// the letter. The testbed shows it as the disk's partition, so the eject unmounts it as it
// would unmount the unit's volume.
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <umockdev.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <thread>

#include "WorkflowWorld.h"
#include "platform/linux/DriveLetters.h"
#include "platform/linux/Mounts.h"
#include "platform/posix/MachineSource.h"
#include "support/AsDesktopUser.h"
#include "support/BuildFolders.h"
#include "support/Testbed.h"
#include "support/UDisksWorld.h"
#include "ui/script/Script.h"
#include "ui/script/ScriptDriver.h"

namespace fs = std::filesystem;

namespace {

constexpr size_t kVolumeBytes = 4 << 20;

dev_t NumberOf(const std::string& node) {
    struct stat st {};
    return ::stat(node.c_str(), &st) == 0 ? st.st_rdev : 0;
}

// The user's session: wait for the unit and the offer, download, transfer the download, and
// see the unit go after the transfer's eject.
constexpr char kSession[] = R"(wait 1028 "接続済み" 60000
pause 1000
press 1014
box OK
job download 600000
wait 1014 "ﾀﾞｳﾝﾛｰﾄﾞ開始" 60000
check 0
dialog 146 OK
box OK
press 1013
job transfer 600000
wait 1028 "未接続" 60000
)";

// The unit's USB device in a umockdev testbed: its disk is the FAT loop device and its one
// partition the folder's stand-in (by device number; the nodes the testbed names are its own).
// Once the eject writes the USB device's "remove", the unit goes as an unplugged one does: its
// nodes (the letter's devices), the block devices' remove events, then the devices.
class UnitTestbed {
public:
    UnitTestbed(const std::string& diskNode, const std::string& folderNode) : bed_(umockdev_testbed_new()) {
        const std::string controller = Add("pci", "0000:00:14.0", nullptr, {}, {});
        usb_ = Add("usb", "1-1", controller.c_str(),
                   {"idVendor", "2f6a", "idProduct", "0c31", "bcdDevice", "0100", "manufacturer", "Orsolan", "product",
                    "Portable Navi Storage", "serial", "VT0000000001", "removable", "removable", "remove", ""},
                   {"DEVTYPE", "usb_device"});
        interface_ = Add("usb", "1-1:1.0", usb_.c_str(), {}, {"DEVTYPE", "usb_interface"});
        umockdev_testbed_set_attribute_link(bed_, interface_.c_str(), "driver",
                                            "../../../../../bus/usb/drivers/usb-storage");
        const dev_t disk = NumberOf(diskNode), folder = NumberOf(folderNode);
        const std::string diskMajor = std::to_string(major(disk)), diskMinor = std::to_string(minor(disk));
        const std::string folderMajor = std::to_string(major(folder)), folderMinor = std::to_string(minor(folder));
        disk_ =
            Add("block", "sdb", interface_.c_str(), {"dev", (diskMajor + ":" + diskMinor).c_str(), "removable", "1"},
                {"DEVTYPE", "disk", "DEVNAME", "/dev/sdb", "MAJOR", diskMajor.c_str(), "MINOR", diskMinor.c_str(),
                 "ID_VENDOR", "Orsolan", "ID_VENDOR_ENC", "Orsolan\\x20", "ID_MODEL", "Flash_Disk_Drive",
                 "ID_MODEL_ENC", "Flash\\x20Disk\\x20Drive"});
        partition_ =
            Add("block", "sdb1", disk_.c_str(), {"dev", (folderMajor + ":" + folderMinor).c_str(), "partition", "1"},
                {"DEVTYPE", "partition", "DEVNAME", "/dev/sdb1", "MAJOR", folderMajor.c_str(), "MINOR",
                 folderMinor.c_str()});
        watcher_ = std::thread([this] {
            while (!stop_ && !unplugged_) {
                if (Attribute(usb_, "remove") == "1\n") {
                    ejected_ = true;
                    Unplug();
                } else if (std::lock_guard<std::mutex> lock(userMutex_); userPulls_ && userPulls_()) {
                    Unplug();
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            }
        });
    }
    ~UnitTestbed() {
        stop_ = true;
        watcher_.join();
        g_object_unref(bed_);
        // The tools the test runs afterwards must see the machine, not the testbed.
        ::unsetenv("UMOCKDEV_DIR");
    }
    UnitTestbed(const UnitTestbed&) = delete;
    UnitTestbed& operator=(const UnitTestbed&) = delete;

    // Whether the eject unplugged the USB device.
    bool Ejected() const { return ejected_; }
    // The user pulls the cable once `now` says so (asked every 10 ms).
    void UserPullsWhen(std::function<bool()> now) {
        std::lock_guard<std::mutex> lock(userMutex_);
        userPulls_ = std::move(now);
    }

private:
    std::string Add(const char* subsystem, const char* name, const char* parent,
                    std::initializer_list<const char*> attributes, std::initializer_list<const char*> properties) {
        return AddTestbedDevice(bed_, subsystem, name, parent, attributes, properties);
    }
    std::string Attribute(const std::string& syspath, const char* name) {
        return TestbedAttribute(bed_, syspath, name);
    }
    void Unplug() {
        unplugged_ = true;
        platform::linuxpc::SetDriveDevice('E', "");
        for (const std::string* device : {&partition_, &disk_})
            umockdev_testbed_uevent(bed_, device->c_str(), "remove");
        for (const std::string* device : {&partition_, &disk_, &interface_, &usb_})
            umockdev_testbed_remove_device(bed_, device->c_str());
    }

    UMockdevTestbed* bed_;
    std::string usb_, interface_, disk_, partition_;
    std::atomic<bool> stop_{false}, ejected_{false}, unplugged_{false};
    std::mutex userMutex_;
    std::function<bool()> userPulls_;
    std::thread watcher_;
};

}  // namespace

class RealPcSessionTest : public WorkflowWorld {
protected:
    static void SetUpTestSuite() { daemons = new UDisksWorld; }
    static void TearDownTestSuite() {
        delete daemons;
        daemons = nullptr;
    }

    void SetUp() override {
        WorkflowWorld::SetUp();
        // libudev reads the testbed only through umockdev's preload library.
        const char* preload = std::getenv("LD_PRELOAD");
        if (preload == nullptr || std::strstr(preload, "libumockdev-preload") == nullptr)
            GTEST_SKIP() << "needs umockdev's preload library: run under umockdev-wrapper (ctest does)";
        if (!daemons->SkipReason().empty()) GTEST_SKIP() << daemons->SkipReason();

        // The unit's files as navisim makes them: its identity, version and cancel mark.
        navisim::CreateUnit(Unit());
        const std::string files = world.root + "/unit-files";
        fs::copy(navisim::UnitFiles("navi"), files, fs::copy_options::recursive);

        // The update's image: a FAT volume of its own files, both boot signatures set (sector
        // 5 lies in the reserved area).
        fs::create_directories(world.root + "/update-fat");
        image = world.root + "/update.img";
        ASSERT_TRUE(MakeUnitFatImage(image, kVolumeBytes, world.root + "/update-fat"));
        std::string bytes = TestWorld::ReadFile(image);
        bytes.replace(2560 + 510, 2, "\x55\xAA");
        TestWorld::WriteFile(image, bytes);
        mkupdate::Options options;
        options.imageFile = image;
        contents = mkupdate::BuildUpdateSet(config.updateSet, options);
        StartService();

        // The unit as it was: a FAT volume with its files, and the folder's ext4 stand-in.
        unitImage = world.root + "/unit.img";
        ASSERT_TRUE(Shell("truncate -s " + std::to_string(kVolumeBytes) + " '" + unitImage + "'"));
        ASSERT_TRUE(Shell("mkfs.vfat -F 16 -S 512 -s 1 -R 8 -n NAVI '" + unitImage + "'"));
        ASSERT_TRUE(Shell("mcopy -s -i '" + unitImage + "' '" + files + "/UPDATE' '" + files + "/MAP' ::/"));
        folderImage = world.root + "/folder.img";
        ASSERT_TRUE(Shell("truncate -s 16M '" + folderImage + "'"));
        // Its files are the session's user's, as a FAT volume udisks2 mounts for that user is.
        std::string owner = "0:0";
        if (!FolderOwner().empty()) {
            const passwd* account = ::getpwnam(FolderOwner().c_str());
            ASSERT_NE(account, nullptr) << FolderOwner();
            owner = std::to_string(account->pw_uid) + ":" + std::to_string(account->pw_gid);
            ASSERT_TRUE(Shell("chown -R " + owner + " '" + files + "'"));
        }
        ASSERT_TRUE(Shell("mkfs.ext4 -q -F -E root_owner=" + owner + " -d '" + files + "' '" + folderImage + "'"));
        fat = std::make_unique<LoopDevice>(unitImage);
        folder = std::make_unique<LoopDevice>(folderImage);
        if (fat->Node().empty() || folder->Node().empty()) GTEST_SKIP() << "losetup could not attach loop devices here";
        ASSERT_TRUE(UDisksWorld::Announce(fat->Node(), "vfat"));
        ASSERT_TRUE(UDisksWorld::Announce(folder->Node(), "ext4"));

        // The real PC from here on: the machine folder holds no machine.ini. Loop devices lie on
        // no udisks2 drive, so the test gives the letter; nothing shells out once the testbed
        // is up (children would see it).
        fs::create_directories(world.root + "/real-pc");
        platform::SetMachineFolder(world.root + "/real-pc");
        platform::ChooseMachine();
        ASSERT_FALSE(platform::MachineSimulated());
        platform::linuxpc::SetDriveDevice('E', fat->Node());
        platform::linuxpc::SetDriveFolderDevice('E', folder->Node());
        testbed = std::make_unique<UnitTestbed>(fat->Node(), folder->Node());
    }
    void TearDown() override {
        WorkflowWorld::TearDown();
        testbed.reset();
        platform::linuxpc::SetDriveDevice('E', "");
        // A mount left by a failed run would keep the loop device from going away.
        if (folder)
            for (const std::string& point : platform::linuxpc::MountPointsOf(NumberOf(folder->Node())))
                static_cast<void>(Shell("umount -l '" + point + "'"));  // best effort on the way out
    }

    // Who runs the session: empty for root.
    virtual std::string FolderOwner() const { return ""; }

    // Runs the veltrane executable on `script` (as `user` through runuser, unless empty), from
    // a program folder and with files of its own; its exit status, and in *trail its
    // transcript, output and log.
    int RunTheProgram(const std::string& script, const std::string& user, std::string* trail) {
        const std::string program = world.root + "/program", run = world.root + "/run";
        fs::create_directories(run);
        for (const char* name : {"veltrane", "libDecode.so", "libsha512.so", "Message.ini"})
            fs::copy_file(BinFolder() + "/" + name, program + "/" + name);
        TestWorld::WriteFile(program + "/Veltrane.ini", "[VELTRANE]\r\nEXTERNAL_INTERFACE_URL=" + theApp.ServiceUrl +
                                                            "\r\nMAPFOLDER=" + theApp.MapFolder + "\r\n");
        TestWorld::WriteFile(run + "/session.script", script);
        const std::map<std::string, std::string> environment{
            {"VELTRANE_MACHINE", world.root + "/real-pc"},
            {"VELTRANE_TEST_LETTERS", "E=" + fat->Node() + ":" + folder->Node()},
            // The testbed's preload library comes before a sanitized build's runtime.
            {"ASAN_OPTIONS", "verify_asan_link_order=0"},
            {"XDG_STATE_HOME", run + "/state"},
            {"UMOCKDEV_DIR", std::getenv("UMOCKDEV_DIR")}};
        std::string command = "cd '" + program + "' && ";
        if (user.empty()) {
            command += "env";
            for (const auto& [name, value] : environment) command += " " + name + "='" + value + "'";
        } else {
            // The user's own: the program folder, the run's files and the map folder; the
            // testbed stands for sysfs, which any user reads.
            command = "chmod 755 '" + world.root + "' && chmod -R a+rX \"$UMOCKDEV_DIR\" && chown -R " + user + ": '" +
                      program + "' '" + run + "' '" + Maps() + "' && " + command + AsDesktopUserCommand(environment);
        }
        // Ended well before ctest's limit, so a run that hangs still shows its trail.
        command +=
            " timeout 300 ./veltrane --front-end headless --script ../run/session.script "
            "--result ../run/result.json > ../run/output.txt 2>&1 < /dev/null";
        const int status = std::system(command.c_str());
        *trail = TestWorld::ReadFile(run + "/session.script.transcript") + TestWorld::ReadFile(run + "/output.txt") +
                 TestWorld::ReadFile(run + "/state/veltrane/Veltrane.log");
        return status;
    }
    // The result file of a run that updated the unit.
    void ExpectCompletedResult() const {
        const std::string result = TestWorld::ReadFile(world.root + "/run/result.json");
        EXPECT_EQ(
            result.rfind("{\"outcome\":\"completed\",\"failure\":null,\"unitVersionBefore\":\"20100601\","
                         "\"unitVersionAfter\":\"20260411\",\"transferredSet\":\"20260411\",\"lastErrorKind\":null",
                         0),
            0u)
            << result;
    }

    // A file of the folder's stand-in, read with debugfs from the unmounted ext4 volume.
    std::string FolderFile(const std::string& path) const {
        return ShellOutput("debugfs -R 'cat " + path + "' '" + folderImage + "'");
    }

    static UDisksWorld* daemons;
    mkupdate::Contents contents;
    std::string image, unitImage, folderImage;
    std::unique_ptr<LoopDevice> fat, folder;
    std::unique_ptr<UnitTestbed> testbed;
};

UDisksWorld* RealPcSessionTest::daemons = nullptr;

TEST_F(RealPcSessionTest, DownloadTransferAndEjectLeaveTheUnitHoldingTheUpdate) {
    ui::ParsedScript script = ui::ParseScript(kSession);
    ASSERT_TRUE(script.errors.empty());
    ui::ScriptDriver driver(view, script.commands, world.root + "/transcript.txt", world.root);
    driver.Start();
    view.RunDialog(kMain, *window);
    std::string transcript;
    for (const std::string& line : driver.Transcript()) transcript += line + "\n";
    ASSERT_TRUE(driver.Finished() && !driver.Failed()) << transcript;

    // The session as the user saw it, and as the service heard it.
    EXPECT_EQ(view.GetCellText(ids::kPcArea, 0, 2), J("ダウンロード完了"));
    EXPECT_EQ(view.GetCellText(ids::kNaviArea, 0, 2), J("ナビ転送完了"));
    std::string log = CallLog();
    size_t completion = log.find("\"call\":\"TSC\"");
    ASSERT_NE(completion, std::string::npos);
    EXPECT_NE(log.find("<maptrs_failure_cd></maptrs_failure_cd>", completion), std::string::npos);
    for (auto& box : view.Boxes())
        EXPECT_EQ(box.request.caption.find(J("エラー")), std::string::npos) << *platform::Cp932ToUtf8(box.request.text);

    // The eject unplugged the unit's USB device, its folder unmounted first.
    EXPECT_TRUE(testbed->Ejected());
    EXPECT_TRUE(platform::linuxpc::MountPointsOf(NumberOf(folder->Node())).empty());
    testbed.reset();

    // The volume is the update's image, which fsck.fat finds clean and mtools read.
    EXPECT_EQ(TestWorld::ReadFile(unitImage), contents.image);
    EXPECT_TRUE(Shell("fsck.fat -n '" + unitImage + "'"));
    EXPECT_EQ(ShellOutput("mtype -i '" + unitImage + "' ::/UPDATE/NAVIINFO/DEVICE.DAT"), "NAVI-UNIT-0001\r\n");
    EXPECT_EQ(ShellOutput("mtype -i '" + unitImage + "' ::/MAP.VER"), "2025101\r\n");

    // The copies, byte for byte, and the cancel mark gone: the unit takes the update.
    EXPECT_EQ(FolderFile("/UPDATE/RENEWAL/RELEASE.TXT"), contents.release);
    EXPECT_EQ(FolderFile("/UPDATE/RENEWAL/VOLUME.DAT"), contents.volume);
    EXPECT_EQ(FolderFile("/UPDATE/RENEWAL/LPA080.DAT"), contents.lpa080);
    EXPECT_EQ(FolderFile("/UPDATE/RENEWAL/VERINFO.DAT"),
              TestWorld::ReadFile((config.updateSet / "RENEWAL/VERINFO.DAT").string()));
    EXPECT_EQ(FolderFile("/UPDATE/NAVIINFO/DEVICE.DAT"), "VT0000000001");
    const std::string naviInfo = ShellOutput("debugfs -R 'ls -l /UPDATE/NAVIINFO' '" + folderImage + "'");
    EXPECT_NE(naviInfo.find("CURRVER.DAT"), std::string::npos) << naviInfo;
    EXPECT_EQ(naviInfo.find("CANCEL.FLG"), std::string::npos) << naviInfo;
}

// The same session through the program itself, as a dealer's batch starts it on this PC: a
// process of its own that reads the testbed and the test's system bus as this one does, with
// the letter given through the test hook's variable. Its exit status and result file say the
// unit was updated; the volume says so too.
TEST_F(RealPcSessionTest, TheSessionThroughTheProgramEndsWithStatusZeroAndItsResult) {
    std::string trail;
    const int status = RunTheProgram(std::string("press 174:1\n") + kSession, "", &trail);
    ASSERT_TRUE(WIFEXITED(status)) << status << trail;
    EXPECT_EQ(WEXITSTATUS(status), 0) << trail;
    ExpectCompletedResult();
    EXPECT_TRUE(testbed->Ejected());
    testbed.reset();
    EXPECT_EQ(TestWorld::ReadFile(unitImage), contents.image);
    EXPECT_EQ(FolderFile("/UPDATE/RENEWAL/VOLUME.DAT"), contents.volume);
}

// The session as a desktop user who is not root runs it: the program as that user (runuser),
// polkitd beside udisks2 on the test's bus with the test-only rule that grants and counts what
// udisks2 asks polkit. Loop devices lie on no udisks2 drive, and the user may not unplug a
// device through sysfs, so the eject is refused here; the user, told to pull the cable, pulls it.
class RealPcDesktopSessionTest : public RealPcSessionTest {
protected:
    static void SetUpTestSuite() {
        rules = new DesktopUserRules;
        daemons = new UDisksWorld(rules->RulesFolder());
    }
    static void TearDownTestSuite() {
        RealPcSessionTest::TearDownTestSuite();
        delete rules;
        rules = nullptr;
    }
    void SetUp() override {
        if (!Shell("command -v runuser")) GTEST_SKIP() << "runuser is missing (util-linux)";
        RealPcSessionTest::SetUp();
        rules->ForgetRequests();
    }
    std::string FolderOwner() const override { return DesktopUserRules::kUser; }

    static inline DesktopUserRules* rules = nullptr;
};

TEST_F(RealPcDesktopSessionTest, AWholeSessionAsksForTheRawVolumeOnce) {
    // The desktop's automounter mounts the unit's volume for the user at the plug-in; a volume
    // whose sector 0 the user cannot read the program mounts only once it has held it.
    ASSERT_TRUE(Shell(AsDesktopUserCommand({}) + " udisksctl mount --no-user-interaction -b " + folder->Node()));
    // Told to pull the cable, the user does once the eject has been refused.
    const std::string log = world.root + "/run/state/veltrane/Veltrane.log";
    testbed->UserPullsWhen([log] { return TestWorld::ReadFile(log).find(J("USB取り外し拒否")) != std::string::npos; });
    std::string trail;
    const int status = RunTheProgram(std::string("press 174:1\n") + kSession, DesktopUserRules::kUser, &trail);
    ASSERT_TRUE(WIFEXITED(status)) << status << trail;
    EXPECT_EQ(WEXITSTATUS(status), 0) << trail;
    ExpectCompletedResult();
    EXPECT_TRUE(TestWorld::ReadFile(unitImage) == contents.image) << "the unit's volume is not the update's image";
    EXPECT_TRUE(FolderFile("/UPDATE/RENEWAL/VOLUME.DAT") == contents.volume) << "VOLUME.DAT differs";

    // Discovery, the hold, the image step with its read-back, the reopen wait, the copies and
    // the eject: one raw open.
    EXPECT_EQ(rules->OpenDeviceRequests(), 1) << trail;
    // The eject was refused, not taken as done: nothing wrote the USB device's "remove".
    EXPECT_FALSE(testbed->Ejected());
}
