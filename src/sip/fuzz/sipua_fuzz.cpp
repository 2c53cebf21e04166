// libFuzzer entry: datagrams (separated by NUL bytes) into the SIP stack, whose events go
// through the user agent's dispatcher to an application that records every operation and
// answers every call, as the bridge does. The fuzzer's thread dispatches (no supervision
// thread). One agent serves every input, as it serves the gateway's life: each input ends with
// its session timers run out and its calls ended, so that the next starts from empty tables.
#include "exosip_internal.h"
#include "sip/caplic.h"
#include "sip/cgus.h"
#include "sip/csipua.h"

#include <cstring>

namespace {

class AplicFuzz : public Cgus, public Caplic {
 public:
  explicit AplicFuzz(CSipua *ua) {
    poSipua = ua;
    poAplic = this;
  }
  ~AplicFuzz() { poSipua = nullptr; }  // owned by the caller

  void Traplic_Invite(int u, DatosEventoSip *p) override {
    Anota(p);
    if (p) EnviaOk(u, p->cid, 5004);
  }
  void Traplic_Reinvite(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Replaces(int u, int cid, DatosEventoSip *p) override {
    Anota(p);
    if (cid > 0) FinalizaSesion(u, cid);
  }
  void Traplic_Refer(int, DatosEventoSip *p) override {
    Anota(p);
    if (p && p->did > 0) DameSipua()->EnviaNotifyRefer(p->did, "SIP/2.0 200 OK");
  }
  void Traplic_Info(int, DatosEventoSip *p, const char *sz) override {
    Anota(p);
    if (sz) iLeido += strlen(sz);  // a body text the agent did not terminate is found here
  }
  void Traplic_WG67_Key_In_Subscription(int, int n, int, int e) override {
    iOperaciones++;
    if (e >= 0) DameSipua()->NotificaSuscripcion(n, "WG67 KEY-IN", "fuzz");
  }
  int32_t Traplic_Options(int, DatosEventoSip *p) override {
    Anota(p);
    return 0;
  }
  void Traplic_Call_Proceeding(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Ringing(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Released(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Request_Failure(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Global_Failure(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Server_Failure(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Update(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Closed(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_ACK(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_InfoIntrusionInProgress(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_InfoIntrusionIsEfective(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_InfoEndofIntrusion(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_InfoIntrusionInminente(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Redirect(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Call_Answer(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Notify(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Call_No_Answer(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Call_Message_Answered(int, DatosEventoSip *p) override { Anota(p); }
  void Traplic_Respuesta_for_Options(int, DatosEventoSip *p) override { Anota(p); }

 private:
  // The texts of the copy are read as the bridge reads them: one left unterminated is found here.
  void Anota(const DatosEventoSip *p) {
    iOperaciones++;
    if (p) iLeido += strlen(p->acCallId) + strlen(p->acSubject) + strlen(p->acPrioridad) + strlen(p->acReplaces);
  }
  int iOperaciones = 0;
  size_t iLeido = 0;
};

void Despacha(CSipua &ua) {
  while (eXosip_event_t *ev = eXosip_event_get()) ua.SIP_TrataEvento(ev);
}

// Ends what an input left: session timers first, then every call the stack still holds.
void Limpia(CSipua &ua) {
  ua.TemporizaSesiones(3600 * 1000);
  Despacha(ua);
  eXosip_call_info_t info[64];
  int n = eXosip_call_get_infos(info, 64);
  for (int i = 0; i < n && i < 64; ++i) eXosip_call_terminate(info[i].cid, 0);
  Despacha(ua);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // Port 0: any free port, so that runs side by side do not meet.
  static CSipua *ua = new CSipua("127.0.0.1", 0, "fuzz/1.0", "127.0.0.1", &TrataEventoSip, 0, 0, 1);
  static AplicFuzz *ap = new AplicFuzz(ua);
  static const bool bUsuarios = [] {
    const int32_t codecs[] = {8, 0};
    return ua->AltaUsuario("ua", codecs, 2, SIP_USR_RADIO, 0) >= 0 &&
           ua->AltaUsuario("4511101", codecs, 1, SIP_USR_TELEFONO, 0) >= 0;
  }();
  if (!ua->Arrancado() || !ap || !bUsuarios) return 0;
  exo::inject_datagrams(reinterpret_cast<const char *>(data), size, "127.0.0.1", 5080, [] { Despacha(*ua); });
  Limpia(*ua);
  return 0;
}
