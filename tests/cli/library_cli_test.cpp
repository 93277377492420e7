#include <filesystem>
#include <sstream>

#include <QImage>
#include <QJsonDocument>
#include <QJsonObject>

#include "support/test_support.h"

namespace {

class LibraryCliTest : public ::testing::Test {
protected:
    lmtest::RunResult cli(std::vector<std::string> args)
    {
        args.insert(args.begin(), lmtest::cliPath());
        return lmtest::run(args);
    }
    std::vector<QJsonObject> lines(const std::string &out)
    {
        std::vector<QJsonObject> all;
        std::istringstream in(out);
        std::string line;
        while (std::getline(in, line)) {
            QJsonParseError error;
            QJsonDocument doc = QJsonDocument::fromJson(QByteArray::fromStdString(line), &error);
            EXPECT_EQ(error.error, QJsonParseError::NoError) << line;
            all.push_back(doc.object());
        }
        return all;
    }
    // The readers are built by others; until the WAV reader opens a plain WAV file the
    // library stays empty and these tests cannot say anything.
    lmtest::TempDir config;
    lmtest::ScopedEnv env{"XDG_CONFIG_HOME", config.path()};
    lmtest::TempDir docs;
};

TEST_F(LibraryCliTest, DefaultsReadWriteDelete)
{
    auto r = cli({"defaults", "read", "Organize"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(cli({"defaults", "write", "Organize", "3"}).status, 0);
    EXPECT_EQ(cli({"defaults", "write", "CurrentFolder", "Music/Live 1"}).status, 0);
    EXPECT_EQ(cli({"defaults", "write", "CurrentAlbum", "12 Songs, 3"}).status, 0);
    EXPECT_EQ(cli({"defaults", "write", "BackStep", "-15"}).status, 0);
    EXPECT_EQ(cli({"defaults", "read", "Organize"}).out, "3\n");
    EXPECT_EQ(cli({"defaults", "read", "CurrentFolder"}).out, "Music/Live 1\n");
    EXPECT_EQ(cli({"defaults", "read", "CurrentAlbum"}).out, "12 Songs, 3\n");
    EXPECT_EQ(cli({"defaults", "read", "BackStep"}).out, "-15\n");
    std::string store = lmtest::readText(config.path() + "/Lumenar/Lumenar.conf");
    EXPECT_NE(store.find("Organize=3"), std::string::npos);   // an integer, not a text
    EXPECT_EQ(cli({"defaults", "delete", "Organize"}).status, 0);
    EXPECT_EQ(cli({"defaults", "read", "Organize"}).status, 1);

    EXPECT_EQ(cli({"defaults"}).status, 2);
    EXPECT_EQ(cli({"defaults", "frobnicate", "X"}).status, 2);
    r = cli({"defaults", "write", "Organize"});
    EXPECT_EQ(r.status, 2);
    EXPECT_NE(r.err.find("usage: lumenar-cli defaults"), std::string::npos);
}

TEST_F(LibraryCliTest, ScanAndPlaylistRefuseBadFolders)
{
    auto r = cli({"scan", docs.file("missing")});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("not a readable folder"), std::string::npos);
    EXPECT_EQ(cli({"scan"}).status, 2);
    EXPECT_EQ(cli({"playlist", docs.file("missing")}).status, 1);
    lmtest::writeFile(docs.file("file"), "x");
    EXPECT_EQ(cli({"playlist", docs.file("file")}).status, 1);

    // An empty library is no error.
    r = cli({"scan", docs.path()});
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, "");
}

TEST_F(LibraryCliTest, ScanPrintsItemsAndCueTracks)
{
    std::filesystem::create_directories(docs.file("Music"));
    lmtest::writeWav(docs.file("Music/b.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 1.0));
    lmtest::writeWav(docs.file("A image.wav"), 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 3.0));
    // A CP1251 sheet beside the image: Russian chosen.
    lmtest::writeFile(docs.file("A image.cue"),
                      std::string("PERFORMER \"\xc0\xeb\xe8\xf1\xe0\"\r\nTITLE \"Disc \\ \"\r\n"
                                  "  TRACK 01 AUDIO\r\n    TITLE \"\xcf\xf0\xe8\xe2\xe5\xf2\"\r\n    INDEX 01 00:00:00\r\n"
                                  "  TRACK 02 AUDIO\r\n    INDEX 01 00:01:50\r\n"));
    lmtest::writeFile(docs.file("A image.png"), "not a picture");
    lmtest::writeFile(docs.file("notes.txt"), "x");
    EXPECT_EQ(cli({"defaults", "write", "PreferedEnc", "1282"}).status, 0);

    auto r = cli({"scan", docs.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 4u) << r.out;
    const QJsonObject &image = rows[0];
    EXPECT_EQ(image["title"].toString(), "Disc \\ ");
    EXPECT_TRUE(image["tagtitle"].isNull());
    EXPECT_EQ(image["path"].toString().toStdString(), docs.file("A image.wav"));
    EXPECT_EQ(image["ownFile"], true);
    EXPECT_EQ(image["trackNumber"], 0);
    EXPECT_EQ(image["audioType"], 1);
    EXPECT_EQ(image["artist"].toString(), QString::fromUtf8("Алиса"));
    EXPECT_EQ(image["album"].toString(), "Disc \\ ");
    EXPECT_TRUE(image["genre"].isNull());
    EXPECT_EQ(image["sampleRate"], 44100);
    EXPECT_EQ(image["bitsPerSample"], 16);
    EXPECT_NEAR(image["totalTime"].toDouble(), 3.0, 0.01);
    EXPECT_EQ(image["hasEmbeddedCoverImage"], false);
    EXPECT_TRUE(image["coverImagePath"].isNull());   // the picture does not decode

    EXPECT_EQ(rows[1]["title"].toString(), QString::fromUtf8("Привет"));
    EXPECT_EQ(rows[1]["ownFile"], false);
    EXPECT_EQ(rows[1]["trackNumber"], 1);
    EXPECT_NEAR(rows[1]["totalTime"].toDouble(), 1.0, 0.01);
    EXPECT_EQ(rows[2]["title"].toString(), "");
    EXPECT_EQ(rows[2]["startTime"], 1);
    EXPECT_NEAR(rows[2]["totalTime"].toDouble(), 2.0, 0.01);
    EXPECT_EQ(rows[3]["title"].toString(), "b");
    EXPECT_EQ(rows[3]["path"].toString().toStdString(), docs.file("Music/b.wav"));

    // The play list of the folder mode with Music chosen.
    EXPECT_EQ(cli({"defaults", "write", "CurrentFolder", "Music"}).status, 0);
    r = cli({"playlist", docs.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    rows = lines(r.out);
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0]["title"].toString(), "b");

    // Play list mode, the list relative to the documents folder (the working directory).
    lmtest::writeFile(docs.file("l.m3u"), "Music/b.wav\r\n#c\r\nA image.wav\r\nMusic/b.wav\r\n");
    EXPECT_EQ(cli({"defaults", "write", "Organize", "3"}).status, 0);
    EXPECT_EQ(cli({"defaults", "write", "CurrentPlaylist", "l.m3u"}).status, 0);
    rows = lines(cli({"playlist", docs.path()}).out);
    ASSERT_EQ(rows.size(), 4u);
    EXPECT_EQ(rows[0]["title"].toString(), "b");
    EXPECT_EQ(rows[1]["ownFile"], true);
    EXPECT_EQ(rows[3]["trackNumber"], 2);
}

TEST_F(LibraryCliTest, FlacWithEmbeddedSheetIsSplitAndTheSheetWrittenOnce)
{
    LMTEST_REQUIRE_TOOL("flac");
    std::string wav = docs.file("src.wav");
    lmtest::writeWav(wav, 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 4.0));
    std::string flac = docs.file("Disc.flac");
    auto enc = lmtest::run({"flac", "-s", "-f", "--tag=TITLE=Tag title", "--tag=ARTIST=Tag artist",
                            "--tag=CUESHEET=TITLE \"Embedded\"\nTRACK 01 AUDIO\n INDEX 01 00:00:00\n"
                            "TRACK 02 AUDIO\n INDEX 01 00:03:00\n",
                            "-o", flac, wav});
    ASSERT_EQ(enc.status, 0) << enc.err;
    remove(wav.c_str());
    auto r = cli({"scan", docs.path()});
    ASSERT_EQ(r.status, 0) << r.err;
    auto rows = lines(r.out);
    ASSERT_EQ(rows.size(), 3u) << r.out;
    EXPECT_EQ(rows[0]["title"].toString(), "Embedded");
    EXPECT_EQ(rows[0]["tagtitle"].toString(), "Tag title");
    EXPECT_EQ(rows[0]["audioType"], 5);
    EXPECT_NEAR(rows[2]["totalTime"].toDouble(), 1.0, 0.01);
    EXPECT_NE(lmtest::readText(docs.file("Disc.flac.cue")).find("Embedded"), std::string::npos);
}

// The library cache changes nothing the scan prints: covers found beside the files,
// sheets written out, items that changed since. --no-cache leaves the cache alone.
TEST_F(LibraryCliTest, ScanWithAndWithoutTheCachePrintsTheSame)
{
    LMTEST_REQUIRE_TOOL("flac");
    lmtest::TempDir cache;
    lmtest::ScopedEnv cacheEnv("XDG_CACHE_HOME", cache.path());
    std::filesystem::create_directories(docs.file("Music"));
    const std::string wav = docs.file("src.wav");
    lmtest::writeWav(wav, 44100, 2, 16, lmtest::tonePcm(44100, 2, 16, 4.0));
    auto enc = lmtest::run({"flac", "-s", "-f", "--tag=ALBUM=Record", "--tag=CUESHEET=TITLE \"Embedded\"\n"
                            "TRACK 01 AUDIO\n INDEX 01 00:00:00\nTRACK 02 AUDIO\n INDEX 01 00:03:00\n",
                            "-o", docs.file("Music/Disc.flac"), wav});
    ASSERT_EQ(enc.status, 0) << enc.err;
    enc = lmtest::run({"flac", "-s", "-f", "--tag=TITLE=Plain", "--tag=ALBUM=Record", "-o", docs.file("Music/p.flac"), wav});
    ASSERT_EQ(enc.status, 0) << enc.err;
    std::filesystem::rename(wav, docs.file("Music/w.wav"));
    QImage picture(4, 4, QImage::Format_RGB32);
    picture.fill(Qt::red);
    ASSERT_TRUE(picture.save(QString::fromStdString(docs.file("Music/Record.png"))));   // the album's cover
    ASSERT_TRUE(picture.save(QString::fromStdString(docs.file("Music/w.jpg"))));        // the file's own

    auto first = cli({"scan", docs.path()});
    ASSERT_EQ(first.status, 0) << first.err;
    ASSERT_EQ(lines(first.out).size(), 5u) << first.out;
    EXPECT_NE(first.out.find("Record.png"), std::string::npos);
    EXPECT_NE(first.out.find("w.jpg"), std::string::npos);
    auto cached = cli({"scan", docs.path()});
    EXPECT_EQ(cached.out, first.out);
    EXPECT_EQ(cli({"scan", "--no-cache", docs.path()}).out, first.out);

    // A changed file shows at once, cached or not.
    enc = lmtest::run({"flac", "-s", "-f", "--tag=TITLE=Other", "--tag=ALBUM=Record", "-o", docs.file("Music/p.flac"),
                       docs.file("Music/w.wav")});
    ASSERT_EQ(enc.status, 0) << enc.err;
    cached = cli({"scan", docs.path()});
    EXPECT_NE(cached.out.find("\"Other\""), std::string::npos);
    EXPECT_EQ(cached.out, cli({"scan", "--no-cache", docs.path()}).out);

    // Without the cache nothing is written to it.
    std::filesystem::remove_all(cache.path());
    EXPECT_EQ(cli({"scan", "--no-cache", docs.path()}).status, 0);
    EXPECT_FALSE(std::filesystem::exists(cache.path()));
    EXPECT_EQ(cli({"scan", "--frobnicate", docs.path()}).status, 2);
    EXPECT_EQ(cli({"scan", docs.path(), docs.path()}).status, 2);
}

} // namespace
