// The atomic HEX file writer: every step of a save that fails says which it
// was, shows one message, keeps the file it would have replaced byte for
// byte and leaves nothing beside it.
#include "hex/hex_records.h"

#include "hex_test_util.h"

#include <cerrno>
#include <sys/stat.h>
#include <unistd.h>

using namespace talmo;
using namespace hextest;

namespace {

// The system calls, failing on request: the `failAt`-th write (short, or
// with an error), or the flush, the close or the rename.
struct Failing {
    int writes = 0, failAt = 0;
    bool writeError = false;
    HexWriteStep step = HexWriteStep::None;
} gFail;

long Write(int fd, const void* data, std::size_t size) {
    if (++gFail.writes != gFail.failAt)
        return ::write(fd, data, size);
    errno = EIO;
    return gFail.writeError ? -1 : ::write(fd, data, size / 2);
}
int Fsync(int fd) { return gFail.step == HexWriteStep::Flush ? -1 : ::fsync(fd); }
int Close(int fd) { return ::close(fd) != 0 || gFail.step == HexWriteStep::Close ? -1 : 0; }
int Rename(const char* from, const char* to) {
    return gFail.step == HexWriteStep::Rename ? -1 : ::rename(from, to);
}
const HexFileCalls kFailing{Write, Fsync, Close, Rename};

TEST(HexFileWriter, EachFailingStepKeepsTheOldFileAndSaysWhich) {
    TempDir dir;
    ASSERT_EQ(::mkfifo(dir.file("pipe").c_str(), 0600), 0); // no reader: refused at once
    const std::string cannotWrite = kHexCannotWrite, cannotCreate = kHexCannotCreate;
    constexpr int kLines = 100, kEndLine = kLines + 2; // write calls: first line, records, end
    const struct {
        std::string path;
        int failAt;
        bool writeError;
        HexWriteStep injected, step;
    } cases[] = {
        {dir.file("none/x.hex"), 0, false, HexWriteStep::None, HexWriteStep::Create},
        {dir.path, 0, false, HexWriteStep::None, HexWriteStep::Create},
        {dir.file("pipe"), 0, false, HexWriteStep::None, HexWriteStep::Create},
        {"/dev/full", 0, false, HexWriteStep::None, HexWriteStep::Write},
        {dir.file("old.hex"), 1, false, HexWriteStep::None, HexWriteStep::Write},
        {dir.file("old.hex"), 50, true, HexWriteStep::None, HexWriteStep::Write},
        {dir.file("old.hex"), kEndLine, false, HexWriteStep::None, HexWriteStep::Write},
        {dir.file("old.hex"), 0, false, HexWriteStep::Flush, HexWriteStep::Flush},
        {dir.file("old.hex"), 0, false, HexWriteStep::Close, HexWriteStep::Close},
        {dir.file("old.hex"), 0, false, HexWriteStep::Rename, HexWriteStep::Rename},
        {dir.file("old.hex"), 0, false, HexWriteStep::None, HexWriteStep::None},
    };
    const std::string old = ":00000001FF\r\nold file\r\n";
    const std::uint8_t data[16] = {};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path + " " + std::to_string(c.failAt) + " " +
                     std::to_string(static_cast<int>(c.injected)));
        WriteFile(dir.file("old.hex"), old);
        gFail = {0, c.failAt, c.writeError, c.injected};
        ScriptedUi ui;
        HexFileWriter writer(ui, kFailing);
        bool ok = writer.create(c.path);
        for (int line = 0; line < kLines; ++line)
            ok =
                writer.writeRecord(static_cast<std::uint16_t>(16 * line), kHexData, data, 16) && ok;
        ok = writer.finish() && ok;
        EXPECT_EQ(ok, c.step == HexWriteStep::None);
        EXPECT_EQ(writer.failedStep(), c.step);
        if (c.step == HexWriteStep::None) {
            EXPECT_EQ(CrLfLines(ReadFile(dir.file("old.hex"))).size(), kLines + 2u);
            continue;
        }
        EXPECT_EQ(ui.boxTexts(),
                  std::vector{c.step == HexWriteStep::Create ? cannotCreate : cannotWrite});
        EXPECT_EQ(ui.boxes()[0].caption, kHexWriteCaption);
        EXPECT_EQ(ReadFile(dir.file("old.hex")), old);
        EXPECT_EQ(Names(dir.path), (std::vector<std::string>{"old.hex", "pipe"}));
    }
}

} // namespace
