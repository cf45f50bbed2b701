// Writes the small seed corpora of the fuzz targets into the directories given
// on the command line: <reply corpus dir> <parser corpus dir> <list output
// corpus dir> <plan file corpus dir>.

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

void WriteSeed(const std::filesystem::path& dir, const std::string& name,
               const std::vector<std::uint8_t>& bytes) {
    std::ofstream file(dir / name, std::ios::binary | std::ios::trunc);
    file.write(reinterpret_cast<const char*>(bytes.data()),
               static_cast<std::streamsize>(bytes.size()));
}

void PutText(std::vector<std::uint8_t>& bytes, std::size_t offset, const char* text) {
    std::memcpy(bytes.data() + offset, text, std::strlen(text));
}

std::vector<std::uint8_t> Text(const char* text, std::uint8_t radix) {
    std::vector<std::uint8_t> bytes{radix};
    bytes.insert(bytes.end(), text, text + std::strlen(text));
    return bytes;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 5) {
        return 2;
    }
    const std::filesystem::path replies = argv[1];
    const std::filesystem::path parsers = argv[2];
    const std::filesystem::path lists = argv[3];
    const std::filesystem::path plans = argv[4];
    std::filesystem::create_directories(replies);
    std::filesystem::create_directories(parsers);
    std::filesystem::create_directories(lists);
    std::filesystem::create_directories(plans);

    // One record: a hostile name (terminal title, colour, C1 CSI, DEL), GBK
    // text, a lone byte that is no encoding's, a comma and a quote.
    const std::string cells[] = {"0",
                                 "0011aabb-0000ff01",
                                 "cam\x1b]0;T\x07\x1b[41m\xc2\x9b\x7f",
                                 "\xc9\xe3\xcf\xf1",
                                 "\x9b",
                                 "a,\"b\"",
                                 "tab\there",
                                 "line\r\n",
                                 "back\\",
                                 "",
                                 "\xff\xfe",
                                 "\xe6\x91\x84"};
    std::vector<std::uint8_t> list{0};
    for (const std::string& cell : cells) {
        list.push_back(static_cast<std::uint8_t>(cell.size()));
        list.insert(list.end(), cell.begin(), cell.end());
    }
    WriteSeed(lists, "record", list);

    std::vector<std::uint8_t> reply(380, 0);
    const std::uint8_t magic[4] = {0xD4, 0xED, 0xCB, 0xB3};
    std::memcpy(reply.data(), magic, 4);
    const std::uint8_t devId[8] = {0x00, 0x11, 0xAA, 0xBB, 0x00, 0x00, 0xFF, 0x01};
    std::memcpy(reply.data() + 23, devId, 8);
    PutText(reply, 39, "192.168.1.10");
    PutText(reply, 76, "255.255.255.0");
    PutText(reply, 106, "camera");
    reply[170] = 0x50;
    reply[172] = 0xBA;
    reply[173] = 0x13;
    PutText(reply, 206, "V1.0");
    reply[248] = 0x39;
    reply[249] = 0x30;
    PutText(reply, 252, "Linux");
    PutText(reply, 364, "192.168.1.1");
    WriteSeed(replies, "reply", reply);

    std::vector<std::uint8_t> alternative = reply;
    std::memcpy(alternative.data(), "Kelmora", 8);
    WriteSeed(replies, "alternative", alternative);
    WriteSeed(replies, "short", std::vector<std::uint8_t>(reply.begin(), reply.begin() + 100));
    std::vector<std::uint8_t> full(380, 0x41);
    WriteSeed(replies, "no-zeros", full);

    WriteSeed(parsers, "mac", Text("00:1a:2b:3c:4d:5e", 16));
    WriteSeed(parsers, "mac-dashes", Text("00-1A-2B-3C-4D-5E", 16));
    WriteSeed(parsers, "device-id", Text("0011aabb-0000ff01", 16));
    WriteSeed(parsers, "decimal", Text("4294967297", 10));
    WriteSeed(parsers, "radix36", Text("Zz9", 36));

    const auto plan = [](const char* text) {
        return std::vector<std::uint8_t>(text, text + std::strlen(text));
    };
    WriteSeed(plans, "by-id",
              plan("dev_id,ip,mask,gateway,mode\r\n"
                   "0011aabb-0000ff01,10.0.0.2,255.255.255.0,10.0.0.1,static\r\n"
                   "0011aabb-0000ff02,,,,dhcp\r\n"));
    WriteSeed(plans, "by-mac-quoted",
              plan("\xEF\xBB\xBFMAC,\"ip\",mask,gateway\n"
                   "\"00:1a:2b:3c:4d:5e\",\"10.0.0.3\",255.255.255.0,\"10.0.0.1\"\n"));
    return 0;
}
