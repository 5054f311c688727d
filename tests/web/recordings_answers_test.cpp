// The recordings answers through the real server, with curl and real files.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>

#include "core/recording_files.h"
#include "web_server_fixture.h"

namespace {

// curl's stdout for arguments.
std::string Curl(const std::string& arguments) {
    std::string out;
    FILE* pipe = popen(("curl -sS --max-time 20 " + arguments + " 2>/dev/null").c_str(), "r");
    char block[4096];
    for (std::size_t n; (n = fread(block, 1, sizeof block, pipe)) > 0;) out.append(block, n);
    pclose(pipe);
    return out;
}

class RecordingsTest : public WebServerTest {
protected:
    void Write(const std::filesystem::path& path, const std::string& bytes) { std::ofstream(path) << bytes; }
    std::string Url(const std::string& target) const { return "http://127.0.0.1:" + std::to_string(port) + target; }
    std::filesystem::path folder_ = std::filesystem::temp_directory_path() / ("rec29_" + std::to_string(getpid()));
};

TEST_F(RecordingsTest, ListsServesRangesAndRefusesEverythingElse) {
    std::filesystem::remove_all(folder_);
    std::filesystem::create_directories(folder_ / "shots");
    const std::string move = folder_.string() + "/", shots = (folder_ / "shots").string() + "/";
    Write(folder_ / "260101_100000_0012.mp4", "0123456789");
    Write(folder_ / "secret.txt", "secret");
    Write(folder_ / "shots/00001.jpg", "photo");
    std::filesystem::create_symlink(folder_ / "secret.txt", folder_ / "260101_090000_0004.avi");
    registry.SetText("MoveFilesPath", move.c_str());
    registry.SetText("ShotFilesPath", shots.c_str());
    server->Stop();
    ASSERT_TRUE(server->Start());
    // The worker's notice adds a finished file without a new look at the folder.
    Write(folder_ / "260101_110000_0008.avi", "RIFFavi");
    RecordingFiles::Find(registry)->FileAdded((move + "260101_110000_0008.avi").c_str());

    const std::string list = Curl(Url("/recordings.json?limit=5"));
    EXPECT_NE(list.find("\"recordings\":[{\"name\":\"260101_110000_0008.avi\""), std::string::npos) << list;
    EXPECT_NE(list.find("260101_100000_0012.mp4"), std::string::npos);
    EXPECT_EQ(list.find("260101_090000_0004.avi"), std::string::npos) << "a link is no recording";
    EXPECT_NE(list.find("\"photos\":[{\"name\":\"00001.jpg\""), std::string::npos);

    const std::string status = "-o /dev/null -w '%{http_code}' ";
    EXPECT_EQ(Curl("-r 0-1 " + Url("/recordings/260101_100000_0012.mp4")), "01");
    EXPECT_EQ(Curl("-r 0-1 " + status + Url("/recordings/260101_100000_0012.mp4")), "206");
    EXPECT_EQ(Curl("-r 20-30 " + status + Url("/recordings/260101_100000_0012.mp4")), "416");
    const std::string head = Curl("-r 5- -D - -o /dev/null " + Url("/recordings/260101_100000_0012.mp4?download"));
    EXPECT_NE(head.find("Content-Range: bytes 5-9/10\r\n"), std::string::npos) << head;
    EXPECT_NE(head.find("Accept-Ranges: bytes\r\n"), std::string::npos);
    EXPECT_NE(head.find("Content-Disposition: attachment; filename=\"260101_100000_0012.mp4\""), std::string::npos);
    EXPECT_EQ(Curl("-r 0-1 -H 'If-Range: \"other\"' " + Url("/recordings/260101_100000_0012.mp4")), "0123456789");
    EXPECT_EQ(Curl(Url("/photos/00001.jpg")), "photo");

    for (const char* target : {"/recordings/..%2fsecret.txt", "/recordings/%2e%2e/secret.txt", "/recordings/secret.txt",
                               "/recordings/260101_090000_0004.avi", "/photos/..%2F..%2Fetc%2Fpasswd",
                               "/recordings//etc/passwd", "/thumbs/260101_100000_0012.mp4.jpg"})
        EXPECT_EQ(Curl("--path-as-is " + status + Url(target)), "404") << target;

    // A file deleted by hand leaves the list when it is next asked for.
    std::filesystem::remove(folder_ / "260101_110000_0008.avi");
    EXPECT_EQ(Curl(Url("/recordings.json")).find("260101_110000_0008.avi"), std::string::npos);
    ASSERT_TRUE(server->ApplyAccess("viewer", "pass", ""));
    EXPECT_EQ(Curl(status + Url("/recordings/260101_100000_0012.mp4")), "401");
    EXPECT_EQ(Curl("-u viewer:pass " + Url("/recordings/260101_100000_0012.mp4")), "0123456789");
    std::filesystem::remove_all(folder_);
}

}  // namespace
