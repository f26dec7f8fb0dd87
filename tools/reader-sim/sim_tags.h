#pragma once
// Tags behind a simulated reader. The reader relays tag commands (frames without CRC):
// for every V3 or V1 command it answers at once with its acknowledgement (same code), and
// for a V3 read the tag answers after a delay (a tag wakes up only every few seconds). A V3
// tag keeps what is written to it and returns it on reads; a V1 tag accepts its writes; an
// absent tag never answers (the reader still acknowledges).

#include "reader-sim/sim_frames.h"

#include <QMutex>
#include <QObject>
#include <QString>
#include <array>
#include <map>
#include <string>
#include <vector>

class QCommandLineParser;

namespace kelta::sim {

class ReaderSim;

inline constexpr std::uint16_t kCodeV3Write = 0x6032;
inline constexpr std::uint16_t kCodeV3Read = 0x6033;
inline constexpr std::uint16_t kCodeV1 = 0x6034;

struct TagOptions {
    int answerDelayMs = 0;       // from the acknowledgement to the tag's answer
    bool present = true;         // false: acknowledgements only, never a tag answer
    bool acknowledge = true;     // false: the reader relays without a word (nothing comes back)
    bool wrongCodeFirst = false; // a frame with another code, in the same write, before each
    int splitGapMs = -1;         // >= 0: every frame in two writes this far apart
    std::string version = "KT3 FW 2.14";
};

// What a V3 tag holds.
struct V3TagState {
    std::map<std::uint8_t, std::array<std::uint8_t, 16>> groups; // group -> values by index
    std::array<std::uint8_t, 8> cid{0, 1, 0, 1, 0, 1, 0, 1};
    std::uint8_t idMode = 0x31;  // 0x30 CID, 0x31 UID
    std::uint8_t aesMode = 0x30; // 0x30 off, 0x32 on
    std::uint8_t selectedKey = 0;
    std::array<std::array<std::uint8_t, 16>, 8> keys{};
    V3TagState();
};

// Lives on the reader's thread, as a child of the reader.
class SimTags : public QObject {
    Q_OBJECT
public:
    SimTags(ReaderSim& reader, const TagOptions& options = {});
    void setOptions(const TagOptions& o);
    TagOptions options() const;
    // Observers (any thread).
    V3TagState v3() const;
    void setV3(const V3TagState& s);
    std::vector<Bytes> v1Payloads() const; // every V1 payload received, in order
    int tagAnswersSent() const;

private:
    std::vector<Bytes> onCommand(const ReceivedFrame& f);
    void applyWrite(const Bytes& p);
    Bytes readAnswerData(const Bytes& p) const;
    void send(const Bytes& frame, std::uint16_t code, const TagOptions& o, int delayMs);

    ReaderSim& reader_;
    mutable QMutex mutex_;
    TagOptions options_;
    V3TagState v3_;
    std::vector<Bytes> v1_;
    int tagAnswers_ = 0;
};

// Command-line options of the tags (added to the parser, read back after processing).
void addTagOptions(QCommandLineParser& p);
// False with the message when an option value is wrong.
bool tagOptionsFrom(const QCommandLineParser& p, TagOptions& out, QString& error);

} // namespace kelta::sim
