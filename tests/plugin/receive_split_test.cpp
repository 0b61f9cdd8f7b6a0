// The receive path when messages arrive cut into pieces: a socket that keeps
// write boundaries hands each piece to one read, so every cut position of a
// stream of two messages is tried, and the parsed live exchange hands the
// client the same answers as the text exchange.
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "plugin/transport.h"
#include "runtime/history_log.h"
#include "simple_json/json_parse.h"
#include "simple_json/json_write.h"

namespace {

// Delivers `pieces` as separate reads, then the end of input, to a fresh
// transport.
struct PieceInput {
  int ends[2] = {-1, -1};
  std::unique_ptr<OsaTransport> transport = std::make_unique<OsaTransport>();

  explicit PieceInput(const std::vector<std::string>& pieces) {
    EXPECT_EQ(socketpair(AF_UNIX, SOCK_SEQPACKET, 0, ends), 0);
    for (const std::string& piece : pieces) {
      EXPECT_EQ(write(ends[1], piece.data(), piece.size()), static_cast<ssize_t>(piece.size()));
    }
    close(ends[1]);
    transport->input = ends[0];
  }
  ~PieceInput() { close(ends[0]); }
  PieceInput(const PieceInput&) = delete;
  PieceInput& operator=(const PieceInput&) = delete;
};

std::vector<std::string> ReadTexts() {
  std::vector<std::string> texts;
  for (const HistoryLogEntry& entry : HistoryLogEntries()) {
    if (entry.channel == "OSA__JSON__Read") texts.push_back(entry.text);
  }
  return texts;
}

// Receives everything; "<failed errno>" ends the list. With `parsed`, the
// parse is asked for too: a message comes with a tree only if its text
// parses, and then with that very tree.
std::vector<std::string> ReceiveAll(OsaTransport* transport, bool parsed = false) {
  std::vector<std::string> messages;
  for (;;) {
    char buffer[kOsaReceiveBufferSize];
    int error = -1;
    JsonPtr tree;
    const OsaReceiveStatus status =
        OsaReceiveMessage(transport, buffer, &error, nullptr, parsed ? &tree : nullptr);
    if (status == OsaReceiveStatus::kFailed) {
      messages.push_back("<failed " + std::to_string(error) + ">" + buffer);
      return messages;
    }
    messages.emplace_back(status == OsaReceiveStatus::kMessage ? buffer : "<oversize>");
    if (tree != nullptr) {
      const JsonPtr again = JsonParse(buffer, nullptr);
      std::string expectedText;
      std::string treeText;
      EXPECT_TRUE(again != nullptr &&
                  JsonWrite(expectedText, again.get()) == JsonWrite(treeText, tree.get()))
          << buffer;
    }
  }
}

const std::string kFirst = R"({ "a" : "x{\"}\\", "b" : { "c" : "}" } })";
const std::string kSecond = R"({ "id" : 2 })";

// Both with and without the parse on the way; a brace-balanced text that is
// not JSON is framed alike either way.
TEST(ReceiveSplit, TwoMessagesCutAtEveryPosition) {
  for (const std::string& first : {kFirst, std::string(R"({ "a" : { } : })")}) {
    const std::string stream = first + " \n" + kSecond;
    const std::vector<std::string> expected = {first, kSecond, "<failed 0>"};
    for (const bool parsed : {false, true}) {
      for (std::size_t cut = 1; cut < stream.size(); ++cut) {
        HistoryLogClear();
        const std::vector<std::string> pieces = {stream.substr(0, cut), stream.substr(cut)};
        const PieceInput input(pieces);
        EXPECT_EQ(ReceiveAll(input.transport.get(), parsed), expected) << "cut " << cut;
        // Each piece came in a read of its own, recorded as it arrived.
        EXPECT_EQ(ReadTexts(), (std::vector<std::string>{pieces[0], pieces[1], ""}))
            << "cut " << cut;
      }
    }
  }
}

TEST(ReceiveSplit, OneByteAtATime) {
  const std::string stream = kFirst + kSecond + "{ \"open\" : \"\\";
  std::vector<std::string> pieces;
  for (char byte : stream)
    pieces.emplace_back(1, byte);
  const PieceInput input(pieces);
  EXPECT_EQ(ReceiveAll(input.transport.get()),
            (std::vector<std::string>{kFirst, kSecond, "<failed 0>{ \"open\" : \"\\"}));
}

// A zero byte ends what a read delivered; the next read starts afresh.
TEST(ReceiveSplit, ZeroByteEndsTheRead) {
  const PieceInput input({std::string("{ \"a\" : \0 }", 11), "1 }"});
  EXPECT_EQ(ReceiveAll(input.transport.get()),
            (std::vector<std::string>{"{ \"a\" : 1 }", "<failed 0>"}));
}

}  // namespace
