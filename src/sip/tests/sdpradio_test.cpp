// SDP texts of the gateway, byte for byte, and the edits of received ones.
#include "sip/sdpradio.h"

#include <eXosip2/eXosip.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>

namespace {

SesionSip SesionVacia() {
    SesionSip s;
    std::memset(static_cast<void*>(&s), 0, sizeof s);
    s.oTemporizador.Reinicia();
    return s;
}

std::string BloqueRadio(const SesionSip& s) {
    CuerpoSdp c;
    return sdp_atributos_radio(&s, c).Texto();
}

struct Oferta {
    sdp_message_t* p;
    explicit Oferta(const std::string& t) : p(sdp_lee_texto(t.c_str())) {}
    ~Oferta() {
        if (p) sdp_message_free(p);
    }
};

const char kCab[] = "v=0\r\no=- 0 0 IN IP4 10.0.0.9\r\ns=-\r\nc=IN IP4 10.0.0.9\r\nt=0 0\r\n";
const char kCabRespuesta[] =
    "v=0\r\no=ZIREZO 0 0 IN IP4 10.0.0.1\r\ns=conversation\r\nc=IN IP4 10.0.0.1\r\nt=0 0\r\n";

TEST(SdpRadio, RadioBlockInItsOrder) {
    SesionSip s = SesionVacia();
    s.iTipoSesion = 0;
    std::strcpy(s.acTipo, "Radio-TxRx");
    s.bss = 2;
    s.ptt_rep = 7;
    s.iPttId = 5;
    std::strcpy(s.fid, "118.000");
    s.rtphe = 1;
    std::strcpy(s.txrxmode, "TxRx");
    std::strcpy(s.sigtime, "1");
    EXPECT_EQ(BloqueRadio(s),
              "a=type:Radio-TxRx\r\na=bss:QX7N\r\na=bss:RSSI\r\na=ptt_rep:3\r\na=ptt-id:0005\r\na=fid:118.000\r\n"
              "a=rtphe:1\r\na=R2S-KeepAlivePeriod:200\r\na=R2S-KeepAliveMultiplier:10\r\na=txrxmode:TxRx\r\n"
              "a=sigtime:1\r\n");
}

TEST(SdpRadio, RadioBlockLinesByField) {
    struct Caso {
        int iTipo;
        uint8_t bss, ptt_rep;
        int iPttId;
        const char* szEsperado;
    } casos[] = {
        {0, 0, 0, 0, "a=type:Radio\r\na=ptt_rep:0\r\n"},
        {1, 1, 3, -1, "a=type:Radio-Rxonly\r\na=bss:RSSI\r\na=ptt_rep:3\r\n"},
        {2, 3, 1, 0, "a=type:Coupling\r\na=bss:QX7N\r\na=ptt_rep:1\r\n"},
        {3, 0, 4, 12, "a=type:Radio-Idle\r\na=ptt_rep:3\r\na=ptt-id:0012\r\n"},
        {9, 0, 0, 0, "a=ptt_rep:0\r\n"},
    };
    for (auto& c : casos) {
        SesionSip s = SesionVacia();
        s.iTipoSesion = c.iTipo;
        s.bss = c.bss;
        s.ptt_rep = c.ptt_rep;
        s.iPttId = c.iPttId;
        EXPECT_EQ(BloqueRadio(s), std::string(c.szEsperado) +
                                      "a=R2S-KeepAlivePeriod:200\r\na=R2S-KeepAliveMultiplier:10\r\n")
            << "type " << c.iTipo;
    }
}

TEST(SdpRadio, RadioAnswerRefusesVideoAndCarriesTheBlock) {
    Oferta o(std::string(kCab) + "m=audio 6000 RTP/AVP 123 8\r\nm=video 6002 RTP/AVP 31\r\n");
    ASSERT_NE(o.p, nullptr);
    SesionSip s = SesionVacia();
    s.iRadio = 1;
    s.iPayload = 8;
    CuerpoSdp c;
    ASSERT_EQ(sdp_texto_respuesta_radio(&s, o.p, "5004", "10.0.0.1", c), 0);
    EXPECT_EQ(std::string(c.Texto()),
              std::string(kCabRespuesta) +
                  "m=audio 5004 RTP/AVP 123 8\r\na=rtpmap:123 R2S/8000\r\na=rtpmap:8 PCMA/8000\r\n"
                  "m=video 0 RTP/AVP \r\n"
                  "a=type:Radio\r\na=ptt_rep:0\r\na=R2S-KeepAlivePeriod:200\r\na=R2S-KeepAliveMultiplier:10\r\n"
                  "a=sendrecv\r\n");
}

TEST(SdpRadio, PlainAnswerMirrorsTheRemoteDirection) {
    struct Caso {
        const char* szRemota;
        const char* szRespuesta;
    } casos[] = {{"a=sendonly\r\n", "a=recvonly\r\n"}, {"a=recvonly\r\n", "a=sendonly\r\n"}, {"", "a=sendrecv\r\n"}};
    for (auto& k : casos) {
        Oferta o(std::string(kCab) + "m=audio 6000 RTP/AVP 0\r\n" + k.szRemota);
        ASSERT_NE(o.p, nullptr);
        SesionSip s = SesionVacia();
        s.iPayload = 0;
        CuerpoSdp c;
        ASSERT_EQ(sdp_texto_respuesta_radio(&s, o.p, "5006", "10.0.0.1", c), 0);
        EXPECT_EQ(std::string(c.Texto()),
                  std::string(kCabRespuesta) + "m=audio 5006 RTP/AVP 0\r\na=rtpmap:0 PCMU/8000\r\n" + k.szRespuesta);
    }
}

TEST(SdpRadio, TwoHundredOkKeepsZeroAndEightWithTheTrailingBlank) {
    Oferta o(std::string(kCab) + "m=audio 6000 RTP/AVP 18 0 8\r\n");
    CuerpoSdp c;
    ASSERT_EQ(sdp_texto_200ok(o.p, "5004", "10.0.0.1", c), 0);
    EXPECT_EQ(std::string(c.Texto()), std::string(kCabRespuesta) +
                                          "m=audio 5004 RTP/AVP 0 8 \r\na=rtpmap:0 PCMU/8000\r\na=rtpmap:8 PCMA/8000\r\n");
    Oferta solo18(std::string(kCab) + "m=audio 6000 RTP/AVP 18\r\n");
    CuerpoSdp d;
    EXPECT_EQ(sdp_texto_200ok(solo18.p, "5004", "10.0.0.1", d), -1);
}

TEST(SdpRadio, AnswerThatWouldNotFitIsRefusedNotCut) {
    std::string t = kCab;
    t += "m=audio 6000 RTP/AVP 8\r\n";
    for (int i = 0; i < 200; i++) t += "m=video 7000 RTP/AVP 31\r\n";
    Oferta o(t);
    ASSERT_NE(o.p, nullptr);
    SesionSip s = SesionVacia();
    s.iPayload = 8;
    CuerpoSdp c;
    EXPECT_EQ(sdp_texto_respuesta_radio(&s, o.p, "5004", "10.0.0.1", c), -1);
    EXPECT_TRUE(c.Desbordado());
    EXPECT_LT(c.Longitud(), static_cast<size_t>(CuerpoSdp::TAMANO));
    CuerpoSdp d;
    EXPECT_EQ(sdp_texto_200ok(o.p, "5004", "10.0.0.1", d), -1);
}

std::string ComoTexto(sdp_message_t* p) {
    char* sz = nullptr;
    sdp_message_to_str(p, &sz);
    std::string s = sz ? sz : "";
    osip_free(sz);
    return s;
}

TEST(SdpRadio, HoldAndResumeRewriteDirections) {
    Oferta sin(std::string(kCab) + "m=audio 6000 RTP/AVP 8\r\n");
    sdp_pon_sendonly(sin.p);
    EXPECT_NE(ComoTexto(sin.p).find("a=sendonly"), std::string::npos);
    Oferta con(std::string(kCab) + "a=recvonly\r\nm=audio 6000 RTP/AVP 8\r\na=sendrecv\r\n");
    sdp_pon_sendonly(con.p);
    EXPECT_EQ(sdp_dame_direccion(con.p, eXosip_get_audio_media(con.p)), SDP_SENDONLY);
    EXPECT_EQ(sdp_dame_direccion(con.p, nullptr), SDP_SENDONLY);
    sdp_pon_sendrecv(con.p);
    EXPECT_EQ(ComoTexto(con.p).find("sendonly"), std::string::npos);
}

TEST(SdpRadio, SessionTypeRewrite) {
    const int32_t lista[] = {8, 0};
    Oferta o(std::string(kCab) + "m=audio 6000 RTP/AVP 8 123\r\na=rtpmap:8 PCMA/8000\r\na=type:Radio\r\n");
    _sdp_modifica_tipo_sesion(o.p, 1, lista, 2);
    std::string t = ComoTexto(o.p);
    EXPECT_NE(t.find("m=audio 6000 RTP/AVP 8 0 123\r\n"), std::string::npos) << t;
    EXPECT_NE(t.find("a=type:Radio-Rxonly"), std::string::npos) << t;
    EXPECT_NE(t.find("a=rtpmap:123 R2S/8000\r\na=rtpmap:8 PCMA/8000\r\na=rtpmap:0 PCMU/8000"), std::string::npos) << t;
    _sdp_modifica_tipo_sesion(o.p, 3, lista, 2);
    t = ComoTexto(o.p);
    EXPECT_NE(t.find("m=audio 6000 RTP/AVP 123\r\n"), std::string::npos) << t;
    EXPECT_EQ(t.find("PCMA"), std::string::npos) << t;
}

TEST(SdpRadio, AttributesMediaFirstThenSession) {
    Oferta o(std::string(kCab) + "a=fid:1\r\na=bss:QX7N\r\nm=audio 6000 RTP/AVP 8\r\na=fid:2\r\na=bss:RSSI\r\n");
    sdp_media_t* m = eXosip_get_audio_media(o.p);
    EXPECT_STREQ(sdp_dame_atributo(o.p, m, "fid"), "2");
    const char* v[3];
    ASSERT_EQ(sdp_dame_atributos(o.p, m, "bss", 2, v), 2);
    EXPECT_STREQ(v[0], "RSSI");
    EXPECT_STREQ(v[1], "QX7N");
    EXPECT_EQ(v[2], nullptr);
    EXPECT_EQ(sdp_dame_atributo(o.p, m, "sigtime"), nullptr);
}

}  // namespace
