// Intel HEX records as every reader and writer of the program uses them.
//
// A record line is ':', LL (data length), AAAA (16-bit address, high byte
// first), TT (type), LL data bytes and CC (checksum), all as pairs of hex
// digits: 11 + 2 * LL characters. CC makes the sum of every byte of the
// record, CC included, equal to 0 modulo 256. Reading accepts both cases of
// hex digit; writing always produces upper case and CR LF line ends.
//
// The readers (LoadPicHex in pic_image.h, LoadFirmwareHex in
// updater/firmware_image.h) share the file front end and the line walk
// below; the writers share HexFileWriter. Each shows at most one message box
// per call: "Erreur fichier" for the readers, "Erreur" for the writers.
#pragma once

#include "core/ui.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace talmo {

// Captions of the readers' and the writers' error boxes.
inline constexpr char kHexReadCaption[] = "Erreur fichier";
inline constexpr char kHexWriteCaption[] = "Erreur";

// The readers' messages, in the order their tests run.
inline constexpr char kHexCannotRead[] = "Impossible de lire le fichier...";
inline constexpr char kHexNoSize[] = "Taille de fichier...";
inline constexpr char kHexNoMemory[] = "Erreur d'allocation mémoire...";
inline constexpr char kHexReadFailed[] = "Erreur de lecture du fichier...";
inline constexpr char kHexIncompleteLine[] = "Ligne incompléte dans le fichier...";
inline constexpr char kHexOddLength[] = "Longueur invalide...";
inline constexpr char kHexBadAddress[] = "Adresse invalide...";
inline constexpr char kHexBadRecord[] = "Record invalide...";
inline constexpr char kHexBadChecksum[] = "Checksum invalide...";

// Refused before a file is programmed: the file stops before its end-of-file
// record, so it was cut off (caption kHexReadCaption).
inline constexpr char kHexNoEndRecord[] = "Fichier incomplet, sans enregistrement de fin...";

// The writers' messages.
inline constexpr char kHexCannotCreate[] = "Impossible de créer le fichier...";
inline constexpr char kHexCannotWrite[] = "Impossible d'écrire dans le fichier...";

// The first and the last line of every file written (without the CR LF).
inline constexpr char kHexFirstLine[] = ":020000040000FA";
inline constexpr char kHexEndLine[] = ":00000001FF";

// Record types.
enum HexRecordType : int {
    kHexData = 0x00,
    kHexEndOfFile = 0x01,
    kHexExtendedSegment = 0x02,
    kHexStartSegment = 0x03,
    kHexExtendedLinear = 0x04,
    kHexStartLinear = 0x05,
};

// Longest record line: 255 data bytes, plus CR LF.
inline constexpr std::size_t kHexMaxRecordLine = 11 + 2 * 255 + 2;

// Two hex digit characters ('0'-'9', 'A'-'F', 'a'-'f') to 0..255; -1 when
// either is not a hex digit. Callers keep the -1 in signed arithmetic and let
// the test each field goes through next refuse it.
int ParseHexByte(char first, char second);

// The pair at `index` and `index + 1` of a line; positions past the line's
// end read as non-hex, so the result is then -1. Never reads past the line.
int HexPairAt(std::string_view line, std::size_t index);

// True when `checksum` (a parsed pair, maybe -1) completes `sum` (the signed
// sum of the record's other bytes) to 0 modulo 256.
bool HexChecksumMatches(int sum, int checksum);

// The whole text of a file, in one block ending with a NUL.
struct HexText {
    std::unique_ptr<char[]> block; // the file's bytes, then a NUL
    // The text up to its first NUL: a NUL byte inside a file ends its text.
    std::string_view text() const;
};

// File front end of the readers: opens `path` for reading (existing files
// only), gets its size, allocates size + 1 zeroed bytes and reads the file
// in one block. True with `out` filled, or false after one of the messages
// kHexCannotRead, kHexNoSize, kHexNoMemory, kHexReadFailed (caption
// kHexReadCaption). The file is closed on every path.
bool LoadHexText(Ui& ui, const std::string& path, HexText& out);

// Line walk: takes the next line off `rest` into `line` and returns true, or
// returns false when `rest` is used up. Empty lines are skipped; a line runs
// up to the next LF (or the end), and one CR at its end is removed. `line`
// points into the same text as `rest`.
bool NextHexLine(std::string_view& rest, std::string_view& line);

// What a reader's record function tells the record walk.
enum HexRecordResult {
    kHexRecordFailed = 0,
    kHexRecordNext = 1,
    kHexRecordEnd = 2,
    kHexRecordSkipped = 3 // a record passed over unread: the walk goes on
};

// What a reader saw of a file besides the image it filled: a file accepted
// without its end-of-file record may have been cut off, and one without a
// data byte leaves the image blank.
struct HexFileFacts {
    bool endRecord = false;    // the end-of-file record was read
    std::size_t dataBytes = 0; // data bytes of the data records taken
};

// Record walk shared by the readers: the text ends at its first NUL; each
// line that starts with ':' goes to `readRecord`, every other line (comments,
// any other text) is skipped. False as soon as a record fails (its
// function has shown the message), true at the end-of-file record or at the end
// of the text; nothing after the end-of-file record is looked at. `facts`,
// when given, counts the data bytes of the data records taken and notes the
// end-of-file record.
template <class ReadRecord>
bool WalkHexRecords(std::string_view text, ReadRecord&& readRecord, HexFileFacts* facts = nullptr) {
    text = text.substr(0, text.find('\0'));
    std::string_view line;
    while (NextHexLine(text, line)) {
        if (line.empty() || line.front() != ':')
            continue;
        const HexRecordResult result = readRecord(line);
        if (result == kHexRecordFailed)
            return false;
        if (result == kHexRecordEnd) {
            if (facts)
                facts->endRecord = true;
            return true;
        }
        // A record taken has passed the reader's length and type tests.
        if (result == kHexRecordNext && facts && HexPairAt(line, 7) == kHexData &&
            HexPairAt(line, 1) > 0)
            facts->dataBytes += static_cast<std::size_t>(HexPairAt(line, 1));
    }
    return true;
}

// The file dialog of every HEX file the program opens or saves, starting at
// `initialPath`: "*.hex" files first, then all files; ".hex" is added to a
// name typed without an extension, and a save asks before replacing a file.
FileDialogRequest HexFileDialog(const std::string& initialPath);

// Formats one record into `out` (at least kHexMaxRecordLine characters):
// ':', LL, AAAA, TT, the data bytes and CC, in upper-case hex, then CR LF.
// Returns the number of characters written, or 0 when `count` exceeds 255.
std::size_t FormatHexRecord(char* out, std::uint16_t address, std::uint8_t type,
                            const std::uint8_t* data, std::size_t count);

// The step of a HEX file's writing that failed.
enum class HexWriteStep {
    None,   // nothing failed
    Create, // the file (or its temporary file) could not be created
    Write,  // a line could not be written whole
    Flush,  // the data could not be put on the disk
    Close,  // closing the file failed
    Rename, // the temporary file could not replace the destination
};

// The system calls through which the writer writes, flushes, closes and
// renames: a test replaces one to make that step fail.
struct HexFileCalls {
    long (*write)(int fd, const void* data, std::size_t size);
    int (*fsync)(int fd);
    int (*close)(int fd);
    int (*rename)(const char* from, const char* to);
};
const HexFileCalls& SystemHexFileCalls();

// Writes a HEX file line by line: each line is one write call, and a call
// that writes fewer bytes than the line holds shows kHexCannotWrite (caption
// kHexWriteCaption) once; the writer then refuses every further line.
//
// A file is never lost: the lines go to a new temporary file beside the
// destination (".NAME.PID-N.tmp"), which finish() renames over it once the
// end line is written and on the disk. Until then the previous file stays as
// it was; a writer that fails, is closed or is destroyed first removes its
// temporary file. A destination that is not a regular file (a FIFO, a device
// such as /dev/full) is written directly: it is opened without waiting, so a
// FIFO without a reader is refused at once with kHexCannotCreate.
class HexFileWriter {
public:
    explicit HexFileWriter(Ui& ui, const HexFileCalls& calls = SystemHexFileCalls())
        : ui_(ui), calls_(calls) {}
    ~HexFileWriter();
    HexFileWriter(const HexFileWriter&) = delete;
    HexFileWriter& operator=(const HexFileWriter&) = delete;

    // Opens the file (see above) and writes kHexFirstLine. False after
    // kHexCannotCreate or kHexCannotWrite.
    bool create(const std::string& path);
    // Writes one line of text followed by CR LF. False after a message (or
    // at once, with no new message, when the writer has already failed).
    bool writeLine(std::string_view text);
    // Writes one record (FormatHexRecord); as writeLine.
    bool writeRecord(std::uint16_t address, std::uint8_t type, const std::uint8_t* data,
                     std::size_t count);
    // Writes kHexEndLine, closes the file and puts it in place; true when the
    // whole file was written.
    bool finish();
    // Abandons an unfinished file: the temporary file is removed and the
    // destination keeps what it held.
    void close();
    // The step that failed first (None while all went well).
    HexWriteStep failedStep() const { return failedStep_; }

private:
    bool writeRaw(const char* data, std::size_t size);
    // Marks the writer failed at `step`, abandons the file and shows
    // kHexCannotWrite: false.
    bool fail(HexWriteStep step);

    Ui& ui_;
    const HexFileCalls& calls_;
    int fd_ = -1;
    bool failed_ = false;
    HexWriteStep failedStep_ = HexWriteStep::None;
    std::string destination_; // the file that finish() replaces
    std::string temporary_;   // empty when writing the destination directly
};

// Checks, before a long read from the device, that a HEX file can be written
// at `path`: a regular or new file needs a folder that takes a new file; any
// other path (a FIFO, a device) must open for writing at once, so a FIFO
// without a reader is refused. False after kHexCannotCreate (caption
// kHexWriteCaption). Such a path stays open until the check is destroyed, so
// that a FIFO's reader does not take the end of the check for the end of the
// data.
class HexOutputCheck {
public:
    HexOutputCheck() = default;
    ~HexOutputCheck();
    HexOutputCheck(const HexOutputCheck&) = delete;
    HexOutputCheck& operator=(const HexOutputCheck&) = delete;

    bool check(Ui& ui, const std::string& path);

private:
    int held_ = -1;
};

} // namespace talmo
