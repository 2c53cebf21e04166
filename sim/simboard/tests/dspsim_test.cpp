// The simulated DSP behind /dev/hpidsp at the device boundary: the driver's write count,
// memory writes apart from messages, the boot phases, and events asked for with the board's
// control tool.
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>

#include <gtest/gtest.h>

#include "csimboard.h"
#include "hardware/cdispositivossim.h"
#include "hardware/hwcodigos.h"

namespace {

class DspSimulado : public ::testing::Test {
protected:
    void SetUp() override {
        placa = simboard::CSimBoard::Arranca("/mnt/ramfs/simboard.sock");
        ASSERT_TRUE(placa);
        fd = cliente.Abre("/dev/hpidsp", O_RDWR);
        ASSERT_GE(fd, 0);
    }
    uint32_t Pide(uint32_t c, uint32_t v = 0) {
        uint32_t r = 0;
        EXPECT_EQ(cliente.Peticion(fd, c, v, &r), 0) << std::hex << c;
        return r;
    }
    void Escribe(uint32_t uiDireccion, std::vector<uint32_t> palabras) {
        ASSERT_EQ(cliente.FijaDireccion(fd, uiDireccion), 0);
        ASSERT_EQ(cliente.EscribePalabras(fd, palabras.data(), palabras.size()), 0);
    }
    // Phase 1 and phase 2 images of one word each, the handshake, the start.
    void Arranca() {
        ASSERT_EQ(Pide(hwcod::H8_FASE), 1u);
        Escribe(0x80000000u, {0x11111111u});
        Escribe(0x11800000u, {0x80000000u});
        ASSERT_EQ(Pide(hwcod::H8_FASE), 2u);
        Pide(hwcod::H12_FASE2);
        Escribe(0xC0000000u, {0x22222222u});
        Pide(hwcod::H11_ARRANCA);
        ASSERT_EQ(Pide(hwcod::H8_FASE), 3u);
        ASSERT_EQ(Lee(), std::string("\x01\x00\x00\x00", 4));  // the DSP's hello
    }
    std::string Lee() {
        char buf[1002];
        ssize_t n = cliente.LeeMensaje(fd, buf, sizeof(buf));
        return n > 0 ? std::string(buf, static_cast<size_t>(n)) : std::string();
    }
    ssize_t EscribeMensaje(const std::string& s) { return cliente.EscribeMensaje(fd, s.data(), s.size()); }
    // simboardctl with these arguments: its exit code, and its output in *ps.
    int Ctl(const std::string& sArgumentos, std::string* ps) {
        std::string sOrden = std::string(getenv("VK_BUILD_DIR")) + "/sim/simboard/simboardctl " + sArgumentos;
        FILE* f = popen(sOrden.c_str(), "r");
        if (!f) return -1;
        char ac[4096];
        size_t n = fread(ac, 1, sizeof(ac), f);
        ps->assign(ac, n);
        int e = pclose(f);
        return WIFEXITED(e) ? WEXITSTATUS(e) : -1;
    }

    std::unique_ptr<simboard::CSimBoard> placa;
    CDispositivosSim cliente{"/mnt/ramfs/simboard.sock"};
    int fd = -1;
};

TEST_F(DspSimulado, WriteCountIsTheMessagePlusFourOrTheBareHeartbeat) {
    Arranca();
    placa->Dsp("borra");
    const std::string sHola("\x01\x00\x00\x00\xAA\xAA\xAA\xAA", 8);
    EXPECT_EQ(EscribeMensaje(sHola), 8);
    EXPECT_EQ(EscribeMensaje(std::string("\x00\x00\xff\xff", 4)), 4);
    EXPECT_EQ(EscribeMensaje(std::string("\x16\x01\x02\x00\x01\0\0\0\0", 9)), 9);
    for (size_t n : {3u, 5u, 7u, 69u}) {
        EXPECT_EQ(EscribeMensaje(std::string(n, '\x05')), -1) << n;
        EXPECT_EQ(errno, EINVAL);
    }
    EXPECT_EQ(placa->Dsp("comandos"), "8: 01 00 00 00\n9: 16 01 02 00 01\n");
    EXPECT_NE(placa->Dsp("estado").find("latidos=1 holas=1"), std::string::npos);
    // Channel 2 was never allocated: the DSP refuses the command with its error event.
    EXPECT_EQ(Lee(), std::string("\x00\x80\x02\x00", 4));
}

TEST_F(DspSimulado, MemoryWritesNeverMixWithMessages) {
    // A block whose first word is 1 (the driver's own marker) is plain data here.
    Escribe(0x80000000u, {1u, 0x01000000u, 0xFFFFFFFFu});
    EXPECT_EQ(placa->Dsp("memoria 0x80000000 4"), "0x1 0x1000000 0xFFFFFFFF -\n");
    EXPECT_TRUE(placa->Dsp("comandos").empty());
    std::vector<uint32_t> v(129, 7u);
    EXPECT_EQ(cliente.EscribePalabras(fd, v.data(), v.size()), -1);
    EXPECT_EQ(errno, EINVAL);
    // Messages to a DSP still in its boot loader are lost.
    EXPECT_EQ(EscribeMensaje(std::string("\x01\x00\x00\x00\0\0\0\0", 8)), 8);
    EXPECT_NE(placa->Dsp("estado").find("perdidos=1"), std::string::npos);
    EXPECT_EQ(Lee(), "");
}

TEST_F(DspSimulado, PhaseOneNeedsItsImageBeforeTheHandshake) {
    Escribe(0x11800000u, {0x80000000u});
    EXPECT_EQ(Pide(hwcod::H8_FASE), 1u);
    Pide(hwcod::H11_ARRANCA);
    EXPECT_EQ(Pide(hwcod::H8_FASE), 1u);
    Arranca();
    // A reset pulse on the discrete I/O puts it back in phase 1 with its memory gone.
    int d = cliente.Abre("/dev/esdiscretas", O_RDWR);
    uint32_t r;
    ASSERT_EQ(cliente.Peticion(d, hwcod::E16_RESET_DSP, 0, &r), 0);
    ASSERT_EQ(cliente.Peticion(d, hwcod::E16_RESET_DSP, 1, &r), 0);
    EXPECT_EQ(Pide(hwcod::H8_FASE), 1u);
    EXPECT_EQ(placa->Dsp("memoria 0x80000000 1"), "-\n");
    EXPECT_NE(placa->Dsp("estado").find("resets=1"), std::string::npos);
}

TEST_F(DspSimulado, HeartbeatsEveryHundredMillisecondsOfItsClock) {
    placa->Dsp("reloj parado 5000");
    Arranca();
    EXPECT_EQ(Lee(), "");
    placa->Dsp("avanza 99");
    EXPECT_EQ(Lee(), "");
    placa->Dsp("avanza 1");
    EXPECT_EQ(Lee(), std::string("\x00\x00\xff\xff", 4));
    EXPECT_EQ(Lee(), "");
    EXPECT_EQ(Pide(hwcod::H1_RELOJ), 5100u);
    placa->Dsp("silencio 1");
    placa->Dsp("avanza 1000");
    EXPECT_EQ(Lee(), "");
}

TEST_F(DspSimulado, ControlToolDrivesTheDsp) {
    Arranca();
    std::string s;
    EXPECT_EQ(Ctl("dsp evento 3 dtmf 0x35 9", &s), 0);
    EXPECT_EQ(s, "ok\n");
    EXPECT_EQ(Ctl("dsp evento 3 entrante 2 41 5", &s), 0);
    EXPECT_EQ(Ctl("dsp crudo 24 80 03 00 03", &s), 0);
    EXPECT_EQ(Lee(), std::string("\x10\x80\x03\x00\x35\x09", 6));
    EXPECT_EQ(Lee(), std::string("\x23\x80\x03\x00\x02\x02\x01" "415", 10));
    EXPECT_EQ(Lee(), std::string("\x24\x80\x03\x00\x03", 5));
    EXPECT_NE(Ctl("dsp evento 3 bucle 1", &s), 0);
    EXPECT_EQ(Ctl("dsp ayuda", &s), 0);
    EXPECT_NE(s.find("dsp evento CANAL NOMBRE"), std::string::npos);
    EXPECT_EQ(Ctl("dsp eventos", &s), 0);
    EXPECT_NE(s.find("liberada 0x8024 1 bytes"), std::string::npos);
    EXPECT_EQ(Ctl("dsp bucle 1 9", &s), 0);
    EXPECT_EQ(Ctl("dsp bucle", &s), 0);
    EXPECT_EQ(s, "1 9\n");
}

}  // namespace
