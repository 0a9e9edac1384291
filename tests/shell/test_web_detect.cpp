#include "shell/connstate/conn_flags.h"
#include "shell/web_detect.h"
#include "tests/shell/connstate_fake.h"

#include <QCoreApplication>
#include <QFile>

#include <net/if.h>

#include <gtest/gtest.h>

namespace wavrell {
namespace {

using test::fake_connstate_library;
using test::set_fake_connection_state;

struct SentenceCase {
    bool connected;
    uint32_t flags;
    const char* text;
};

TEST(WebDetect, ConnectStrSentencesInOrder) {
    TWebDetect d;
    d.setDLLName(fake_connstate_library());
    ASSERT_TRUE(d.ValidDLL());
    const SentenceCase cases[] = {
        {true, 0x40 | 0x02 | 0x04,
         "You have a network connection configured.\rThe local system connects to the Internet via "
         "a LAN, and uses a proxy server. "},
        {true, 0x02, "The local system connects to the Internet via a LAN."},
        {true, 0x01, "The local system uses a modem to connect to the Internet. "},
        {true, 0x10 | 0x08 | 0x20,
         "The connection is currently offline. The local system's modem is busy with a "
         "non-Internet connection. Remote Access Services are installed on this system."},
        {true, 0x04, ""},
        {false, 0x7F, "Not connected to the internet now."},
    };
    for (const auto& c : cases) {
        ASSERT_TRUE(set_fake_connection_state(c.connected, c.flags));
        EXPECT_EQ(d.ConnectStr(), QString::fromUtf8(c.text)) << "flags " << c.flags;
    }
}

TEST(WebDetect, FlagQueriesReadTheWordAfreshAndIgnoreTheAnswer) {
    TWebDetect d;
    d.setDLLName(fake_connstate_library());
    ASSERT_TRUE(set_fake_connection_state(false, 0x01 | 0x02 | 0x10));
    EXPECT_FALSE(d.Online());
    EXPECT_TRUE(d.ConnectedViaModem());
    EXPECT_TRUE(d.ConnectedViaLAN());
    EXPECT_FALSE(d.ConnectedViaProxy());
    EXPECT_TRUE(d.RASInstalled());

    ASSERT_TRUE(set_fake_connection_state(true, 0x04));
    EXPECT_TRUE(d.Online());
    EXPECT_FALSE(d.ConnectedViaModem());
    EXPECT_FALSE(d.ConnectedViaLAN());
    EXPECT_TRUE(d.ConnectedViaProxy());
    EXPECT_FALSE(d.RASInstalled());
}

TEST(WebDetect, UnboundAnswersNoConnection) {
    const QString names[] = {QString(), QStringLiteral("libwavrell-no-such-library.so"),
                             test::connstate_missing_library()};
    for (const QString& name : names) {
        TWebDetect d;
        d.setDLLName(name);
        EXPECT_FALSE(d.ValidDLL()) << name.toStdString();
        EXPECT_FALSE(d.Online());
        EXPECT_FALSE(d.ConnectedViaModem());
        EXPECT_FALSE(d.ConnectedViaLAN());
        EXPECT_FALSE(d.ConnectedViaProxy());
        EXPECT_FALSE(d.RASInstalled());
        EXPECT_EQ(d.ConnectStr(), QStringLiteral("IE4+ not installed"));
        EXPECT_EQ(d.DLLName(), name);
    }
}

TEST(WebDetect, SameNameLoadsOnceAndRebindingFreesTheLibrary) {
    const int before = test::fake_connstate_loads();
    {
        TWebDetect d;
        d.setDLLName(fake_connstate_library());
        EXPECT_EQ(test::fake_connstate_loads(), before + 1);
        ASSERT_TRUE(set_fake_connection_state(true, 0x02));
        d.setDLLName(fake_connstate_library());
        EXPECT_EQ(test::fake_connstate_loads(), before + 1);
        EXPECT_TRUE(d.Online());  // still the same loaded instance

        // Another name frees it; coming back loads it anew.
        d.setDLLName(test::connstate_missing_library());
        EXPECT_FALSE(set_fake_connection_state(true, 0x02)) << "library still loaded";
        d.setDLLName(fake_connstate_library());
        EXPECT_EQ(test::fake_connstate_loads(), before + 2);
        EXPECT_FALSE(d.Online());  // fresh state of a fresh load
    }
    EXPECT_FALSE(set_fake_connection_state(true, 0x02)) << "destroying the detector frees it";
}

TEST(WebDetect, ProgramLibraryReportsProxyFromEnvironment) {
    const char* vars[] = {"http_proxy", "https_proxy", "HTTP_PROXY", "HTTPS_PROXY", "all_proxy",
                          "ALL_PROXY"};
    QByteArray saved[6];
    for (int i = 0; i < 6; ++i) {
        saved[i] = qgetenv(vars[i]);
        qunsetenv(vars[i]);
    }

    TWebDetect d;
    d.setDLLName(QStringLiteral(WAVRELL_CONNSTATE_LIBRARY));
    ASSERT_TRUE(d.ValidDLL());
    EXPECT_FALSE(d.ConnectedViaProxy());
    EXPECT_EQ(d.Online(), d.ConnectedViaLAN() || d.ConnectedViaModem());
    for (const char* v : {"http_proxy", "HTTPS_PROXY", "all_proxy"}) {
        qputenv(v, "http://127.0.0.1:3128");
        EXPECT_TRUE(d.ConnectedViaProxy()) << v;
        qunsetenv(v);
    }
    EXPECT_FALSE(d.ConnectedViaProxy());

    for (int i = 0; i < 6; ++i)
        if (!saved[i].isNull()) qputenv(vars[i], saved[i]);
}

TEST(WebDetect, BareLibraryNameIsFoundNextToTheProgram) {
    // The program names its library without a folder; it lies beside the
    // executable, which is not on the system's library path.
    const QString name =
        QStringLiteral("libwavrell-beside-%1.so").arg(QCoreApplication::applicationPid());
    const QString beside = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    ASSERT_TRUE(QFile::copy(test::fake_connstate_library(), beside));
    {
        TWebDetect d;
        d.setDLLName(name);
        EXPECT_TRUE(d.ValidDLL());
    }
    QFile::remove(beside);
}

TEST(ConnectionState, DefaultRouteInterfacesFromRouteTables) {
    const std::string route4 =
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "eth0\t00000000\t010200C0\t0003\t0\t0\t0\t00000000\t0\t0\t0\n"
        "eth0\t000200C0\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "wlan0\t000A0A0A\t00000000\t0001\t0\t0\t0\t00FFFFFF\t0\t0\t0\n"
        "down0\t00000000\t01010101\t0002\t0\t0\t0\t00000000\t0\t0\t0\n"
        "blk0\t00000000\t00000000\t0201\t0\t0\t0\t00000000\t0\t0\t0\n";
    const std::string route6 =
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "fe800000000000000000000000000001 00000400 00000001 00000000 00000003 ppp0\n"
        "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n"
        "fe800000000000000000000000000000 40 00000000000000000000000000000000 00 "
        "00000000000000000000000000000000 00000100 00000001 00000000 00000001 eth1\n";
    EXPECT_EQ(connstate::default_route_interfaces(route4, route6),
              (std::vector<std::string>{"eth0", "ppp0"}));
    EXPECT_TRUE(connstate::default_route_interfaces("", "").empty());
}

TEST(ConnectionState, FlagsFromInterfaces) {
    using connstate::Interface;
    const unsigned upRun = IFF_UP | IFF_RUNNING;
    struct Case {
        std::vector<Interface> interfaces;
        std::vector<std::string> routes;
        bool proxy;
        uint32_t flags;
        bool connected;
    } cases[] = {
        // Only loopback, even with an address and a route: nothing.
        {{{"lo", upRun | IFF_LOOPBACK, true}}, {"lo"}, false, 0, false},
        // Configured network card with the default route: LAN.
        {{{"lo", upRun | IFF_LOOPBACK, true}, {"eth0", upRun, true}}, {"eth0"}, false, 0x42, true},
        // Card configured but no default route: configured only.
        {{{"eth0", upRun, true}}, {}, false, 0x40, false},
        // Card with a route but no carrier: configured only.
        {{{"eth0", IFF_UP, true}}, {"eth0"}, false, 0x40, false},
        // Point-to-point link with the default route: modem, and a proxy.
        {{{"eth0", upRun, false}, {"ppp0", upRun | IFF_POINTOPOINT, true}}, {"ppp0"}, true, 0x45, true},
    };
    for (const auto& c : cases) {
        bool connected = !c.connected;
        EXPECT_EQ(connstate::connection_flags(c.interfaces, c.routes, c.proxy, &connected), c.flags);
        EXPECT_EQ(connected, c.connected);
    }
}

}  // namespace
}  // namespace wavrell
