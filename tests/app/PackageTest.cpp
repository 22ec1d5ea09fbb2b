// The Debian package as a machine gets it: made by CPack from this build, unpacked into a fresh
// root as dpkg unpacks it and configured by its own postinst against that root's machine hive.
// The installed zelvorn then runs from the root with an empty home: it loads the installed
// module and serves the installed web/, never the build tree; and the prerm leaves no
// registration behind.
#include "PageClient.h"
#include "ServeProcess.h"
#include "ZelvornProcess.h"
#include "common/NginxServer.h"
#include "common/TempFolder.h"
#include "platform/Registry.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

namespace fs = std::filesystem;

namespace {

// Runs a shell command; its exit status, and everything it printed in `output`.
int shell(const std::string& command, std::string& output)
{
    output.clear();
    FILE* pipe = popen((command + " 2>&1").c_str(), "r");
    if (!pipe)
        return -1;
    char buffer[4096];
    for (size_t n; (n = fread(buffer, 1, sizeof buffer, pipe)) > 0;)
        output.append(buffer, n);
    return pclose(pipe);
}

std::string quoted(const fs::path& path)
{
    return "'" + path.string() + "'";
}

// The text a page gets for `target` from the server on `port`.
std::string fetch(uint16_t port, const std::string& target)
{
    std::string body;
    shell("curl -sf http://127.0.0.1:" + std::to_string(port) + target, body);
    return body;
}

}  // namespace

TEST(Package, BuiltBinariesNeverSearchTheWorkingDirectoryForLibraries)
{
    // The loader reads an empty run path entry as the working directory, where anybody's file
    // named like a library would then be loaded into a host started there.
    for (const char* name : {"zelvorn", "libzelvorn2.so", "libzv_platform.so"}) {
        std::string dynamic;
        ASSERT_EQ(shell("readelf -d " + quoted(fs::path(ZV_BINARY_DIR) / "app" / name), dynamic), 0) << dynamic;
        const size_t open = dynamic.find("runpath: [");
        ASSERT_NE(open, std::string::npos) << name << ":\n" << dynamic;
        const std::string path = dynamic.substr(open + 10, dynamic.find(']', open) - open - 10);
        EXPECT_TRUE(!path.empty() && path.front() != ':' && path.back() != ':' && path.find("::") == std::string::npos)
            << name << " runpath [" << path << "]";
    }
}

TEST(Package, InstallsIntoAFreshRootServesFromItAndRemovesCleanly)
{
    TempFolder work;
    const fs::path root = work.path() / "root";
    const fs::path control = work.path() / "control";
    std::string out;
    ASSERT_EQ(shell("cpack --config '" ZV_BINARY_DIR "/CPackConfig.cmake' -B " + quoted(work.path() / "package"), out),
              0)
        << out;
    fs::path package;
    for (const auto& entry : fs::directory_iterator(work.path() / "package"))
        if (entry.path().extension() == ".deb")
            package = entry.path();
    ASSERT_FALSE(package.empty()) << out;
    // Depends names the libraries the binaries link, as dpkg-shlibdeps finds them.
    ASSERT_EQ(shell("dpkg-deb -f " + quoted(package) + " Depends", out), 0) << out;
    for (const char* library : {"libc6", "libcurl4", "libjsoncpp", "liblog4cplus", "libboost-thread"})
        EXPECT_NE(out.find(library), std::string::npos) << library << " missing from Depends: " << out;
    ASSERT_EQ(shell("dpkg-deb -x " + quoted(package) + " " + quoted(root) + " && dpkg-deb -e " + quoted(package) + " " +
                        quoted(control),
                    out),
              0)
        << out;
    const fs::path zelvorn = root / "usr/bin/zelvorn";
    const fs::path module = root / "usr/lib/zelvorn/libzelvorn2.so";
    EXPECT_GT(fs::file_size(root / "usr/share/man/man1/zelvorn.1.gz"), 0u);
    EXPECT_NE(TempFolder::readFile(root / "usr/lib/systemd/user/zelvorn.service")
                  .find("\nExecStart=/usr/bin/zelvorn serve\n"),
              std::string::npos);

    // Configured as dpkg configures it, for the system in `root`.
    const std::string inRoot = "DPKG_ROOT=" + quoted(root) + " ";
    ASSERT_EQ(shell(inRoot + "sh " + quoted(control / "postinst") + " configure", out), 0) << out;
    const fs::path wanted = root / "etc/systemd/user/graphical-session.target.wants/zelvorn.service";
    EXPECT_EQ(fs::read_symlink(wanted).string(), "/usr/lib/systemd/user/zelvorn.service") << out;

    // An empty home: nothing registered for the user, no settings, no browser folders.
    const fs::path home = work.path() / "home";
    const fs::path downloads = work.path() / "downloads";
    fs::create_directories(home);
    fs::create_directories(downloads);
    const std::string machineHive = (root / "etc/zelvorn/registry.json").string();
    const std::map<std::string, std::string> user{{"HOME", home.string()},
                                                  {"XDG_CONFIG_HOME", ""},
                                                  {"XDG_DATA_HOME", ""},
                                                  {"XDG_STATE_HOME", ""},
                                                  {"ZELVORN_REGISTRY_USER", ""},
                                                  {"ZELVORN_REGISTRY_MACHINE", machineHive},
                                                  {"XDG_DOWNLOAD_DIR", downloads.string()},
                                                  {"LD_LIBRARY_PATH", ""}};
    // A page served from the root, told apart from the sources' page of the same name.
    const fs::path index = root / "usr/share/zelvorn/web/index.html";
    const std::string installedPage = TempFolder::readFile(index) + "<!-- installed -->\n";
    std::ofstream(index, std::ios::trunc) << installedPage;

    TempFolder site;
    const std::string body = TempFolder::pattern(2 * 1024 * 1024 + 77);
    site.writeFile("file.bin", body);
    NginxServer nginx(site.path());
    {
        ServeProcess serve({}, user, zelvorn.string());
        ASSERT_NE(serve.port(), 0);
        EXPECT_EQ(fetch(serve.port(), "/"), installedPage);
        PageClient client(serve.port(), serve.origin());
        ASSERT_TRUE(client.open()) << serve.errors();
        client.send(R"({"name":"init","config":{"ThreadCount":1}})");  // into the user's download folder
        client.send(R"({"name":"add_file","id":1,"fileUrl":")" + nginx.url("/file.bin") + "\"}");
        client.send(R"({"name":"start_queue"})");
        std::string events;
        for (auto event = client.read(); event; event = client.read()) {
            events += *event;
            if (event->find("\"down_complete\"") != std::string::npos ||
                event->find("\"down_error\"") != std::string::npos)
                break;
        }
        EXPECT_NE(events.find("\"down_complete\""), std::string::npos) << events << serve.errors();
        EXPECT_TRUE(TempFolder::readFile(downloads / "file.bin") == body);

        // The processes run the root's libraries and nothing of the build or source tree; the
        // control's module is loaded by the host of the page's session, a child of serve.
        std::string maps = serve.maps();
        EXPECT_NE(maps.find((root / "usr/lib/zelvorn/libzv_platform.so").string() + "\n"), std::string::npos);
        std::string hostMaps;
        for (const pid_t host : serve.hosts())
            hostMaps += TempFolder::readFile("/proc/" + std::to_string(host) + "/maps");
        EXPECT_NE(hostMaps.find(module.string() + "\n"), std::string::npos) << hostMaps;
        maps += hostMaps;
        EXPECT_EQ(maps.find(ZV_BINARY_DIR), std::string::npos) << maps;
        EXPECT_EQ(maps.find(ZV_SOURCE_DIR "/"), std::string::npos) << maps;
        EXPECT_EQ(serve.errors().find("your registration"), std::string::npos) << serve.errors();
        EXPECT_EQ(serve.stop(), 0) << serve.errors();
    }

    // A registration of the build tree in the user's hive hides the machine's: the installed
    // zelvorn says so, and its own `register --user` puts its module there instead.
    ZelvornProcess::Options asUser;
    asUser.environment = user;
    ZelvornProcess buildRegistration(work, {"register", "--user"}, asUser);
    ASSERT_EQ(buildRegistration.wait(), 0) << buildRegistration.err();
    asUser.program = zelvorn.string();
    asUser.input = R"({"name":"init","config":{"ThreadCount":1}})"
                   "\n";
    ZelvornProcess hidden(work, {"stdio"}, asUser);
    EXPECT_EQ(hidden.wait(), 0);
    EXPECT_NE(hidden.err().find("names the module " ZV_BINARY_DIR "/app/libzelvorn2.so, not this zelvorn's " +
                                module.string()),
              std::string::npos)
        << hidden.err();
    ZelvornProcess ownRegistration(work, {"register", "--user"}, asUser);
    EXPECT_EQ(ownRegistration.wait(), 0) << ownRegistration.err();
    ZelvornProcess own(work, {"stdio"}, asUser);
    EXPECT_EQ(own.wait(), 0);
    EXPECT_EQ(own.err(), "");
    EXPECT_NE(own.out().find("load_complete"), std::string::npos) << own.out();

    // Removal takes the machine's registration and the session's unit away; purging, the hive.
    ASSERT_EQ(shell(inRoot + "sh " + quoted(control / "prerm") + " remove", out), 0) << out;
    Registry hive;
    ASSERT_EQ(Registry::open(machineHive, hive), S_OK);
    for (const wchar_t* key : {L"Dravik.DownloaderPartition", L"Dravik.DownloaderPartition.1",
                               L"CLSID\\{A826A674-B4E5-4462-A6F7-DEF66969C130}", L"AppID\\Zelvorn.DLL"})
        EXPECT_FALSE(hive.hasKey(key)) << out;
    EXPECT_FALSE(fs::is_symlink(wanted));
    ASSERT_EQ(shell(inRoot + "sh " + quoted(control / "postrm") + " purge", out), 0) << out;
    EXPECT_FALSE(fs::exists(root / "etc/zelvorn"));
}
