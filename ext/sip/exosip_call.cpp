// Calls: INVITE dialogs, their in-dialog requests, 2xx/ACK reliability, PRACK and session timers.
#include "exosip_internal.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <strings.h>

namespace exo {

namespace {

void forget_redo(Call *c);
void keep_for_redo(Call *c, int did, osip_transaction_t *tr, const osip_message_t *resp);
void send_redo(Call *c);

int cseq_num(const osip_message_t *m) { return (m && m->cseq && m->cseq->number) ? atoi(m->cseq->number) : 0; }

Dialog *dialog_of_call_response(Call *c, osip_message_t *resp) {
  for (int did : c->dids) {
    Dialog *d = find_dialog(did);
    if (d && d->od && osip_dialog_match_as_uac(d->od, resp) == 0) return d;
  }
  return nullptr;
}

int first_did(const Call *c) {
  for (int did : c->dids)
    if (find_dialog(did)) return did;
  return 0;
}

eXosip_event_type_t failure_type(int status, bool in_dialog) {
  if (in_dialog) {
    if (status < 400) return EXOSIP_CALL_MESSAGE_REDIRECTED;
    if (status < 500) return EXOSIP_CALL_MESSAGE_REQUESTFAILURE;
    if (status < 600) return EXOSIP_CALL_MESSAGE_SERVERFAILURE;
    return EXOSIP_CALL_MESSAGE_GLOBALFAILURE;
  }
  if (status < 400) return EXOSIP_CALL_REDIRECTED;
  if (status < 500) return EXOSIP_CALL_REQUESTFAILURE;
  if (status < 600) return EXOSIP_CALL_SERVERFAILURE;
  return EXOSIP_CALL_GLOBALFAILURE;
}

// The refresh leaves a little before half the interval, so that it is seen within it.
Ms refresh_delay(int64_t secs) { return Ms(std::max<int64_t>(100, secs * 500 - 50)); }

// Session-Expires delta-seconds (RFC 4028, RFC 3261 25.1): saturated at 2**32-1.
int64_t session_interval(const std::string &se) {
  const char *p = se.c_str();
  while (*p == ' ' || *p == '\t') ++p;
  int64_t n = 0;
  if (*p < '0' || *p > '9') return 0;
  for (; *p >= '0' && *p <= '9'; ++p) n = std::min<int64_t>(n * 10 + (*p - '0'), kMaxDeltaSeconds);
  return n;
}

// RFC 4028: this side refreshes when the 2xx names it refresher. A 2xx without
// Session-Expires means the session has no timer at all: nothing to refresh.
void arm_session_timer(Dialog *d, const osip_message_t *resp, bool uac) {
  std::string se = header_value(resp, "Session-Expires");
  bool ours = false;
  if (!se.empty()) {
    const char *r = strcasestr(se.c_str(), "refresher=");
    std::string who = r ? std::string(r + 10, 3) : "";
    ours = (uac && strcasecmp(who.c_str(), "uac") == 0) || (!uac && strcasecmp(who.c_str(), "uas") == 0);
  }
  int64_t secs = session_interval(se);
  if (!ours || secs <= 0) {
    d->se_interval = 0;
    return;
  }
  d->se_interval = secs;
  d->next_refresh = Clock::now() + refresh_delay(secs);
}

void send_refresh(Dialog *d) {
  osip_message_t *m = build_in_dialog(d, "UPDATE");
  if (!m) return;
  char v[64];
  snprintf(v, sizeof v, "%lld;refresher=%s", static_cast<long long>(d->se_interval),
           d->od->type == CALLER ? "uac" : "uas");
  osip_message_set_header(m, "Session-Expires", v);
  osip_message_set_header(m, "Supported", "timer");
  start_client(m, NICT, TrCtx{TrKind::InDialog, d->cid, d->d_id});
}

int send_bye(Call *c, Dialog *d, const char *reason, const char *local_ip, const char *wg67, const char *ua) {
  osip_message_t *bye = build_in_dialog(d, "BYE");
  if (!bye) return -1;
  if (reason && *reason) osip_message_set_header(bye, "Reason", reason);
  if (wg67 && *wg67) osip_message_set_header(bye, "WG67-Version", wg67);
  if (ua && *ua) {
    osip_header_t *h = nullptr;
    if (osip_message_header_get_byname(bye, "User-Agent", 0, &h) >= 0 && h) {
      osip_free(h->hvalue);
      h->hvalue = osip_strdup(ua);
    }
  }
  if (local_ip && *local_ip) {
    osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&bye->vias, 0));
    if (via) {
      osip_free(via->host);
      via->host = osip_strdup(local_ip);
    }
  }
  if (d->resp2xx) {
    osip_message_free(d->resp2xx);
    d->resp2xx = nullptr;
  }
  d->se_interval = 0;
  osip_transaction_t *tr = start_client(bye, NICT, TrCtx{TrKind::InDialog, c->c_id, d->d_id});
  if (!tr) return -1;
  c->bye_tid = tr->transactionid;
  return 0;
}

}  // namespace

void call_release(Call *c) {
  if (!c) return;
  int cid = c->c_id;
  if (c->retry_resp) osip_message_free(c->retry_resp);
  c->retry_resp = nullptr;
  forget_redo(c);
  if (!c->ended) {
    c->ended = true;
    push_event(new_event(EXOSIP_CALL_RELEASED, cid, first_did(c), 0, nullptr, nullptr));
  }
  for (int did : c->dids) free_dialog(did);
  g->calls.erase(cid);
}

void calls_clear() {
  while (!g->calls.empty()) {
    Call *c = g->calls.begin()->second.get();
    for (int did : c->dids) free_dialog(did);
    if (c->retry_resp) osip_message_free(c->retry_resp);
    forget_redo(c);
    g->calls.erase(g->calls.begin());
  }
}

// An INVITE retransmitted after its transaction ended with our 2xx (RFC 6026): the 2xx
// answers it again and no second call is made of it.
bool invite_retransmission(const osip_message_t *m) {
  osip_generic_param_t *ftag = nullptr;
  if (osip_from_get_tag(m->from, &ftag) != 0 || !ftag || !ftag->gvalue) return false;
  int n = cseq_num(m);
  Dialog *d = dialog_of_call_id(m->call_id, [&](Dialog *x) {
    return x->kind == DlgKind::Call && x->od && x->od->type == CALLEE && x->od->remote_tag &&
           strcmp(x->od->remote_tag, ftag->gvalue) == 0 && x->resp2xx_cseq == n;
  });
  if (!d) return false;
  if (d->resp2xx) {
    std::string host;
    int port;
    via_dest(d->resp2xx, host, port);
    send_raw(d->resp2xx, host, port, d->resp2xx_tid);
  }
  return true;
}

void call_incoming_request(osip_event_t *evt) {
  osip_message_t *m = evt->sip;
  if (invite_retransmission(m)) {
    osip_event_free(evt);
    return;
  }
  bool full = g->calls.size() >= kMaxCalls || queue_full();
  osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::Invite});
  if (!tr) return;
  if (full) {
    EXO_LOG(OSIP_WARNING, "eXosip: %zu calls held, new INVITE answered 503\n", g->calls.size());
    answer_server(tr, build_response(m, 503, nullptr, false));
    return;
  }
  osip_dialog_t *od = uas_dialog(tr, m);
  if (!od) return;
  auto c = std::make_unique<Call>();
  c->c_id = g->next_cid++;
  c->external_reference = nullptr;
  c->inc_tid = tr->transactionid;
  Dialog *d = new_dialog(DlgKind::Call, c->c_id, od);
  d->remote_sdp = body_of_type(m, "application", "sdp");
  d->inc_trs.insert(tr->transactionid);
  c->dids.push_back(d->d_id);
  TrCtx *ctx = ctx_of(tr);
  ctx->cid = c->c_id;
  ctx->did = d->d_id;
  int cid = c->c_id;
  // A 100 only if the application takes longer than 200 ms to answer (RFC 3261 17.2.1): most
  // answer sooner, and a datagram that is not sent costs nothing.
  c->trying_at = Clock::now() + Ms(200);
  g->calls[cid] = std::move(c);
  push_event(new_event(EXOSIP_CALL_INVITE, cid, d->d_id, tr->transactionid, m, nullptr));
}

bool call_in_dialog(Dialog *d, osip_event_t *evt) {
  Call *c = find_call(d->cid);
  if (!c || c->ended) return false;
  osip_message_t *m = evt->sip;
  const char *method = m->sip_method;
  if (cseq_num(m) > d->od->remote_cseq) d->od->remote_cseq = cseq_num(m);
  bool full = queue_full();
  if (strcmp(method, "INVITE") == 0) {
    osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::Invite, c->c_id, d->d_id});
    if (!tr) return true;
    if (full) {
      answer_server(tr, build_response(m, 503, nullptr, false));
      return true;
    }
    std::string sdp = body_of_type(m, "application", "sdp");
    if (!sdp.empty()) d->remote_sdp = sdp;
    // a target refresh: the peer may have moved
    osip_contact_t *ct = nullptr;
    if (osip_message_get_contact(m, 0, &ct) >= 0 && ct && ct->url) {
      osip_contact_free(d->od->remote_contact_uri);
      d->od->remote_contact_uri = nullptr;
      osip_contact_clone(ct, &d->od->remote_contact_uri);
    }
    push_event(new_event(EXOSIP_CALL_REINVITE, c->c_id, d->d_id, tr->transactionid, m, nullptr));
    return true;
  }
  osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::InDialog, c->c_id, d->d_id});
  if (!tr) return true;
  if (strcmp(method, "BYE") == 0) {
    answer_server(tr, build_response(m, 200, nullptr, false));
    if (d->resp2xx) {
      osip_message_free(d->resp2xx);
      d->resp2xx = nullptr;
    }
    push_event(new_event(EXOSIP_CALL_CLOSED, c->c_id, d->d_id, tr->transactionid, m, nullptr));
    call_release(c);
    return true;
  }
  if (strcmp(method, "PRACK") == 0) {
    answer_server(tr, build_response(m, 200, nullptr, false));
    return true;
  }
  if (full) {
    answer_server(tr, build_response(m, 503, nullptr, false));
    return true;
  }
  if (strcmp(method, "UPDATE") == 0) {
    std::string sdp = body_of_type(m, "application", "sdp");
    if (!sdp.empty()) d->remote_sdp = sdp;
    if (d->se_interval > 0) d->next_refresh = Clock::now() + refresh_delay(d->se_interval);
  }
  push_event(new_event(EXOSIP_CALL_MESSAGE_NEW, c->c_id, d->d_id, tr->transactionid, m, nullptr));
  return true;
}

void call_ack(osip_message_t *ack) {
  if (Dialog *d = dialog_of_call_id(ack->call_id, [ack](Dialog *x) {
        return x->kind == DlgKind::Call && x->od && osip_dialog_match_as_uas(x->od, ack) == 0;
      })) {
    int n = cseq_num(ack);
    if (n != d->resp2xx_cseq || n <= d->acked_cseq) return;  // stray or repeated ACK
    d->acked_cseq = n;
    hook_received(ack, d->resp2xx_tid);
    if (d->resp2xx) {
      osip_message_free(d->resp2xx);
      d->resp2xx = nullptr;
    }
    std::string sdp = body_of_type(ack, "application", "sdp");
    if (!sdp.empty()) d->remote_sdp = sdp;
    eXosip_event_t *ev = new_event(EXOSIP_CALL_ACK, d->cid, d->d_id, d->resp2xx_tid, nullptr, nullptr);
    osip_message_clone(ack, &ev->ack);
    snprintf(ev->textinfo, sizeof ev->textinfo, "ACK received");
    push_event(ev);
    return;
  }
}

void call_cancel(osip_transaction_t *cancel_tr, osip_message_t *cancel) {
  osip_transaction_t *ist = invite_of_cancel(cancel);
  TrCtx *ctx = ctx_of(ist);
  Call *c = ctx ? find_call(ctx->cid) : nullptr;
  if (!c || c->inc_tid != ist->transactionid || !ist->orig_request ||
      osip_call_id_match(ist->orig_request->call_id, cancel->call_id) != 0) {
    answer_server(cancel_tr, build_response(cancel, 481, nullptr, false));
    return;
  }
  answer_server(cancel_tr, build_response(cancel, 200, nullptr, false));
  run_machines();  // the 200 to the CANCEL leaves before the 487
  if (c->final_sent || !server_open(ist)) return;
  Dialog *d = find_dialog(first_did(c));
  answer_server(ist, build_response(ist->orig_request, 487, d && d->od ? d->od->local_tag : nullptr, false));
  c->final_sent = true;
  push_event(new_event(EXOSIP_CALL_CANCELLED, c->c_id, d ? d->d_id : 0, ist->transactionid, cancel, nullptr));
  call_release(c);
}

void call_ict_response(int type, osip_transaction_t *tr, osip_message_t *resp) {
  TrCtx *ctx = ctx_of(tr);
  Call *c = ctx ? find_call(ctx->cid) : nullptr;
  if (!c || c->ended) return;
  bool initial = ctx->did == 0;
  int tid = tr->transactionid;
  Dialog *d = initial ? (resp ? dialog_of_call_response(c, resp) : nullptr) : find_dialog(ctx->did);
  osip_generic_param_t *tag = nullptr;
  bool tagged = resp && resp->to && osip_to_get_tag(resp->to, &tag) == 0 && tag && tag->gvalue;
  auto make_dialog = [&]() {
    osip_dialog_t *od = nullptr;
    if (osip_dialog_init_as_uac(&od, resp) != 0) return;
    d = new_dialog(DlgKind::Call, c->c_id, od);
    d->local_sdp = body_of_type(tr->orig_request, "application", "sdp");
    c->dids.push_back(d->d_id);
  };
  switch (type) {
    case OSIP_ICT_STATUS_1XX_RECEIVED: {
      if (!initial) return;
      c->got_provisional = true;
      if (tagged && !d) make_dialog();
      std::string rseq = header_value(resp, "RSeq");
      if (d && !rseq.empty()) {
        int n = atoi(rseq.c_str());
        if (n <= d->last_rseq) return;  // retransmitted reliable provisional, already PRACKed
        d->last_rseq = n;
        d->rseq_cseq = cseq_num(resp);
      }
      if (d) {
        std::string sdp = body_of_type(resp, "application", "sdp");
        if (!sdp.empty()) d->remote_sdp = sdp;
      }
      eXosip_event_type_t t =
          (resp->status_code == 180 || resp->status_code == 183) ? EXOSIP_CALL_RINGING : EXOSIP_CALL_PROCEEDING;
      push_event(new_event(t, c->c_id, d ? d->d_id : 0, tid, tr->orig_request, resp));
      return;
    }
    case OSIP_ICT_STATUS_2XX_RECEIVED: {
      if (initial && !d) make_dialog();
      if (!d) return;
      if (initial && d->d_STATE == 1 && d->invite_cseq == cseq_num(resp)) return;
      osip_dialog_update_route_set_as_uac(d->od, resp);
      osip_dialog_set_state(d->od, DIALOG_CONFIRMED);
      d->d_STATE = 1;
      std::string sdp = body_of_type(resp, "application", "sdp");
      if (!sdp.empty()) d->remote_sdp = sdp;
      std::string lsdp = body_of_type(tr->orig_request, "application", "sdp");
      if (!lsdp.empty()) d->local_sdp = lsdp;
      d->invite_tid = tid;
      d->invite_cseq = cseq_num(resp);
      c->answered = true;
      c->redos = 0;
      arm_session_timer(d, resp, true);
      push_event(new_event(EXOSIP_CALL_ANSWERED, c->c_id, d->d_id, tid, tr->orig_request, resp));
      if (c->cancelling) {  // answered while we were cancelling: confirm and hang up
        osip_message_t *ack = nullptr;
        if (eXosip_call_build_ack(d->d_id, &ack) == 0) eXosip_call_send_ack(d->d_id, ack);
        send_bye(c, d, nullptr, nullptr, nullptr, nullptr);
      }
      return;
    }
    case OSIP_ICT_STATUS_2XX_RECEIVED_AGAIN:
      call_stray_2xx(resp);
      return;
    case OSIP_ICT_STATUS_TIMEOUT:
      if (initial) {
        push_event(new_event(EXOSIP_CALL_NOANSWER, c->c_id, first_did(c), tid, tr->orig_request, nullptr));
        call_release(c);
      } else {
        push_event(new_event(EXOSIP_CALL_MESSAGE_REQUESTFAILURE, c->c_id, ctx->did, tid, tr->orig_request, nullptr));
        if (d) send_bye(c, d, nullptr, nullptr, nullptr, nullptr);
      }
      return;
    default:  // 3xx-6xx
      if (!resp) return;
      push_event(new_event(failure_type(resp->status_code, !initial), c->c_id, d ? d->d_id : 0, tid,
                           tr->orig_request, resp));
      if (initial) {
        int st = resp->status_code;
        bool retry = c->retries < 2 && !c->cancelling &&
                     (((st == 401 || st == 407) && can_authorize(tr->orig_request, resp)) ||
                      (st == 422 && !header_value(resp, "Min-SE").empty()));
        if (!retry) {
          call_release(c);
          return;
        }
        if (c->retry_resp) osip_message_free(c->retry_resp);
        osip_message_clone(resp, &c->retry_resp);
        c->retry_tid = tid;
        c->retry_deadline = Clock::now() + Ms(5000);  // time for eXosip_default_action, else released
      } else if (resp->status_code == 481 || resp->status_code == 408) {
        call_release(c);  // RFC 3261 12.2.1.2: the dialog is gone
      } else {
        keep_for_redo(c, ctx->did, tr, resp);
      }
      return;
  }
}

void call_nict_response(int type, osip_transaction_t *tr, osip_message_t *resp) {
  TrCtx *ctx = ctx_of(tr);
  Call *c = find_call(ctx->cid);
  if (!c || c->ended) return;
  int tid = tr->transactionid;
  bool bye = tid == c->bye_tid;
  eXosip_event_type_t t;
  if (type == OSIP_NICT_STATUS_TIMEOUT)
    t = EXOSIP_CALL_MESSAGE_REQUESTFAILURE;
  else if (type == OSIP_NICT_STATUS_1XX_RECEIVED)
    t = EXOSIP_CALL_MESSAGE_PROCEEDING;
  else if (type == OSIP_NICT_STATUS_2XX_RECEIVED)
    t = EXOSIP_CALL_MESSAGE_ANSWERED;
  else
    t = failure_type(resp ? resp->status_code : 408, true);
  if (t == EXOSIP_CALL_MESSAGE_PROCEEDING) return;
  Dialog *d = find_dialog(ctx->did);
  if (d && t == EXOSIP_CALL_MESSAGE_ANSWERED && tr->orig_request && strcmp(tr->orig_request->sip_method, "UPDATE") == 0) {
    std::string sdp = body_of_type(resp, "application", "sdp");
    if (!sdp.empty()) d->remote_sdp = sdp;
    if (d->se_interval > 0) d->next_refresh = Clock::now() + refresh_delay(d->se_interval);
    c->redos = 0;
  }
  push_event(new_event(t, c->c_id, ctx->did, tid, tr->orig_request, resp));
  int status = resp ? resp->status_code : 408;
  if (!bye && resp && tr->orig_request && strcmp(tr->orig_request->sip_method, "UPDATE") == 0)
    keep_for_redo(c, ctx->did, tr, resp);
  if (bye || status == 481 || status == 408) {
    if (!bye && d) send_bye(c, d, nullptr, nullptr, nullptr, nullptr);
    call_release(c);
  }
}

void call_stray_2xx(osip_message_t *resp) {
  if (Dialog *d = dialog_of_call_id(resp->call_id, [resp](Dialog *x) {
        return x->kind == DlgKind::Call && x->od && osip_dialog_match_as_uac(x->od, resp) == 0;
      })) {
    hook_received(resp, d->invite_tid);
    auto now = Clock::now();
    // A UAS repeats its 2xx after T1 at the earliest: faster repeats are an echo of our own ACKs.
    if (d->ack && d->ack_cseq == cseq_num(resp) && (!d->reacked || now - d->last_reack >= Ms(kT1 / 2))) {
      std::string host;
      int port;
      next_hop(d->ack, host, port);
      send_raw(d->ack, host, port, d->invite_tid);
      d->reacked = true;
      d->last_reack = now;
    }
    return;
  }
  // A 2xx of another dialog of one of our INVITEs (a fork): acknowledge it and end that dialog
  // (RFC 3261 13.2.2.4); the call keeps the dialog it was answered on.
  osip_generic_param_t *ftag = nullptr;
  if (osip_from_get_tag(resp->from, &ftag) != 0 || !ftag || !ftag->gvalue) return;
  Dialog *answered = dialog_of_call_id(resp->call_id, [ftag](Dialog *x) {
    return x->kind == DlgKind::Call && x->od && x->od->type == CALLER && x->od->local_tag &&
           strcmp(x->od->local_tag, ftag->gvalue) == 0 && x->d_STATE == 1;
  });
  Call *fork_of = answered ? find_call(answered->cid) : nullptr;
  osip_dialog_t *od = nullptr;
  if (!fork_of || osip_dialog_init_as_uac(&od, resp) != 0) return;
  Dialog *d = new_dialog(DlgKind::Call, fork_of->c_id, od);
  fork_of->dids.push_back(d->d_id);
  osip_dialog_set_state(od, DIALOG_CONFIRMED);
  d->d_STATE = 1;
  d->invite_cseq = cseq_num(resp);
  if (osip_message_t *ack = build_in_dialog(d, "ACK")) {
    std::string host;
    int port;
    next_hop(ack, host, port);
    send_raw(ack, host, port, 0);
    d->ack = ack;
    d->ack_cseq = d->invite_cseq;
    d->reacked = true;
    d->last_reack = Clock::now();
  }
  if (osip_message_t *bye = build_in_dialog(d, "BYE")) start_client(bye, NICT, TrCtx{TrKind::Stray, 0, d->d_id});
}

void call_timers(Clock::time_point now) {
  std::vector<int> stale;
  for (auto &[did, dp] : g->dialogs) {
    Dialog *d = dp.get();
    if (d->kind != DlgKind::Call) continue;
    Call *c = find_call(d->cid);
    if (!c) continue;
    if (d->resp2xx && now >= d->next2xx) {
      if (now >= d->end2xx) {  // no ACK within 64*T1: end the session (RFC 3261 13.3.1.4)
        osip_message_free(d->resp2xx);
        d->resp2xx = nullptr;
        push_event(new_event(EXOSIP_CALL_CLOSED, c->c_id, d->d_id, d->resp2xx_tid, nullptr, nullptr));
        if (send_bye(c, d, nullptr, nullptr, nullptr, nullptr) != 0) stale.push_back(c->c_id);
        continue;
      }
      std::string host;
      int port;
      via_dest(d->resp2xx, host, port);
      send_raw(d->resp2xx, host, port, d->resp2xx_tid);
      d->interval2xx = std::min(d->interval2xx * 2, kT2);
      d->next2xx = now + Ms(d->interval2xx);
    }
    if (d->se_interval > 0 && d->d_STATE == 1 && !c->bye_tid && now >= d->next_refresh) {
      d->next_refresh = now + refresh_delay(d->se_interval);
      send_refresh(d);
    }
  }
  for (auto &[cid, c] : g->calls) {
    if (c->retry_resp && now >= c->retry_deadline) stale.push_back(cid);
    if (c->redo_req && c->redo_at != Clock::time_point{} && now >= c->redo_at)
      send_redo(c.get());
    else if (c->redo_req && c->redo_at == Clock::time_point{} && now >= c->redo_deadline)
      forget_redo(c.get());
    if (c->trying_at != Clock::time_point{} && now >= c->trying_at) {
      c->trying_at = {};
      osip_transaction_t *ist = find_tr(c->inc_tid);
      if (ist && server_open(ist) && !ist->last_response)
        answer_server(ist, build_response(ist->orig_request, 100, nullptr, false));
    }
  }
  for (int cid : stale) call_release(find_call(cid));
}

// The INVITE again, in a new transaction, with credentials (401/407) or the peer's Min-SE (422).
int call_retry(Call *c) {
  osip_transaction_t *ict = find_tr(c->retry_tid);
  osip_message_t *inv = ict && ict->orig_request ? copy_for_resend(ict->orig_request, cseq_num(ict->orig_request) + 1)
                                                 : nullptr;
  if (!inv) {
    call_release(c);
    return -1;
  }
  osip_message_t *resp = c->retry_resp;
  c->retry_resp = nullptr;
  if (resp->status_code == 422)
    use_min_se(inv, header_value(resp, "Min-SE"), "uac");
  else
    add_authorization(inv, resp);
  osip_message_free(resp);
  osip_message_force_update(inv);
  ++c->retries;
  osip_transaction_t *tr = start_client(inv, ICT, TrCtx{TrKind::Invite, c->c_id});
  if (!tr) {
    call_release(c);
    return -1;
  }
  c->out_tid = tr->transactionid;
  run_machines();
  return 0;
}

void use_min_se(osip_message_t *req, const std::string &min_se, const char *dflt_refresher) {
  std::string old = header_value(req, "Session-Expires");
  const char *r = strcasestr(old.c_str(), "refresher=");
  std::string who = r ? std::string(r + 10, strcspn(r + 10, "; \t")) : dflt_refresher;
  drop_headers(req, "Session-Expires");
  drop_headers(req, "Min-SE");
  osip_message_set_header(req, "Session-Expires", (std::to_string(session_interval(min_se)) + ";refresher=" + who).c_str());
  osip_message_set_header(req, "Min-SE", min_se.c_str());
}

namespace {

void forget_redo(Call *c) {
  if (c->redo_req) osip_message_free(c->redo_req);
  c->redo_req = nullptr;
  c->redo_at = {};
}

// A 422 (with Min-SE) or 491 to our re-INVITE or UPDATE: kept for eXosip_default_action.
void keep_for_redo(Call *c, int did, osip_transaction_t *tr, const osip_message_t *resp) {
  int st = resp->status_code;
  if (!tr->orig_request || !(st == 491 || (st == 422 && !header_value(resp, "Min-SE").empty()))) return;
  if (c->redos >= 3) return;  // the peer keeps refusing: the application decides
  forget_redo(c);
  osip_message_clone(tr->orig_request, &c->redo_req);
  c->redo_status = st;
  c->redo_min_se = header_value(resp, "Min-SE");
  c->redo_tid = tr->transactionid;
  c->redo_did = did;
  c->redo_deadline = Clock::now() + Ms(5000);
}

// RFC 3261 14.1: the owner of the Call-ID waits 2.1-4 s, the other side 0-2 s, in 10 ms steps.
Ms glare_delay(bool call_id_owner) {
  static thread_local std::mt19937 r{std::random_device{}()};
  std::uniform_int_distribution<int> steps(call_id_owner ? 210 : 0, call_id_owner ? 400 : 200);
  return Ms(10 * steps(r));
}

void send_redo(Call *c) {
  osip_message_t *req = c->redo_req;
  c->redo_req = nullptr;
  c->redo_at = {};
  Dialog *d = find_dialog(c->redo_did);
  if (!req || !d || !d->od || c->ended || c->bye_tid) {
    if (req) osip_message_free(req);
    return;
  }
  osip_message_t *again = copy_for_resend(req, ++d->od->local_cseq);
  osip_message_free(req);
  if (!again) return;
  if (c->redo_status == 422) use_min_se(again, c->redo_min_se, "uac");
  osip_message_force_update(again);
  ++c->redos;
  bool invite = strcmp(again->sip_method, "INVITE") == 0;
  if (d->se_interval > 0) d->next_refresh = Clock::now() + refresh_delay(d->se_interval);
  start_client(again, invite ? ICT : NICT, TrCtx{invite ? TrKind::Invite : TrKind::InDialog, c->c_id, d->d_id});
}

}  // namespace

int call_redo(Call *c) {
  if (!c->redo_req) return -1;
  if (c->redo_status == 491) {
    Dialog *d = find_dialog(c->redo_did);
    c->redo_at = Clock::now() + glare_delay(d && d->od && d->od->type == CALLER);
    return 0;
  }
  send_redo(c);
  run_machines();
  return 0;
}

}  // namespace exo

using namespace exo;

#define LOCK()                                 \
  if (!g) return -1;                           \
  std::lock_guard<StackLock> lk_(g->mtx)

int eXosip_call_build_initial_invite(osip_message_t **invite, const char *to, const char *from, const char *route,
                                     const char *subject) {
  LOCK();
  int r = build_request(invite, "INVITE", to, from, route);
  if (r != 0) return r;
  if (subject && *subject) osip_message_set_header(*invite, "Subject", subject);
  return 0;
}

int eXosip_call_send_initial_invite(osip_message_t *invite) {
  if (!g || !invite) return refuse(invite);
  std::lock_guard<StackLock> lk(g->mtx);
  if (g->calls.size() >= kMaxCalls || !invite->req_uri) return refuse(invite);
  auto c = std::make_unique<Call>();
  int cid = g->next_cid++;  // known before the INVITE leaves: early answers find their call
  c->c_id = cid;
  c->external_reference = nullptr;
  c->outgoing = true;
  g->calls[cid] = std::move(c);
  osip_transaction_t *tr = start_client(invite, ICT, TrCtx{TrKind::Invite, cid});
  if (!tr) {
    g->calls.erase(cid);
    return -1;
  }
  g->calls[cid]->out_tid = tr->transactionid;
  run_machines();
  return cid;
}

int eXosip_call_set_reference(int cid, void *reference) {
  LOCK();
  Call *c = find_call(cid);
  if (!c) return -1;
  c->external_reference = reference;
  return 0;
}

void *eXosip_call_get_reference(int cid) {
  if (!g) return nullptr;
  std::lock_guard<StackLock> lk(g->mtx);
  Call *c = find_call(cid);
  return c ? c->external_reference : nullptr;
}

int eXosip_call_build_answer(int tid, int status, osip_message_t **answer) {
  LOCK();
  if (!answer) return -1;
  *answer = nullptr;
  osip_transaction_t *tr = find_tr(tid);
  TrCtx *ctx = ctx_of(tr);
  if (!tr || !ctx || !tr->orig_request || status < 101 || status > 699) return -1;
  Dialog *d = find_dialog(ctx->did);
  if (tr->ctx_type == IST) {
    if (!server_open(tr)) return -1;
    *answer = build_response(tr->orig_request, status, d && d->od ? d->od->local_tag : nullptr,
                             status < 300);
  } else if (tr->ctx_type == NIST) {
    if (!server_open(tr)) return -1;
    *answer = build_response(tr->orig_request, status, nullptr, false);
  }
  return *answer ? 0 : -1;
}

int eXosip_call_send_answer(int tid, int status, osip_message_t *answer) {
  if (!g) return refuse(answer);
  std::lock_guard<StackLock> lk(g->mtx);
  osip_transaction_t *tr = find_tr(tid);
  TrCtx *ctx = ctx_of(tr);
  if (!tr || !ctx || !server_open(tr) || (tr->ctx_type != IST && tr->ctx_type != NIST)) return refuse(answer);
  if (!answer && eXosip_call_build_answer(tid, status, &answer) != 0) return -1;
  status = answer->status_code;
  Call *c = find_call(ctx->cid);
  Dialog *d = find_dialog(ctx->did);
  if (tr->ctx_type == IST && c && d) {
    std::string sdp = body_of_type(answer, "application", "sdp");
    if (!sdp.empty()) d->local_sdp = sdp;
    bool initial = tid == c->inc_tid;
    if (status >= 200 && status < 300) {
      if (d->resp2xx) osip_message_free(d->resp2xx);
      osip_message_clone(answer, &d->resp2xx);
      d->resp2xx_tid = tid;
      d->resp2xx_cseq = cseq_num(answer);
      d->interval2xx = kT1;
      d->next2xx = Clock::now() + Ms(kT1);
      d->end2xx = Clock::now() + Ms(64 * kT1);
      osip_dialog_set_state(d->od, DIALOG_CONFIRMED);
      d->d_STATE = 1;
      c->answered = true;
      arm_session_timer(d, answer, false);
    }
    if (initial && status >= 200) c->final_sent = true;
    answer_server(tr, answer);
    if (initial && status >= 300) call_release(c);
  } else {
    answer_server(tr, answer);
  }
  run_machines();
  return 0;
}

int eXosip_call_send_answer_with_reason(int tid, int status, osip_message_t *answer, const char *reason) {
  LOCK();
  if (!answer && eXosip_call_build_answer(tid, status, &answer) != 0) return -1;
  if (reason && *reason) osip_message_set_header(answer, "Reason", reason);
  return eXosip_call_send_answer(tid, status, answer);
}

int eXosip_call_build_ack(int did, osip_message_t **ack) {
  LOCK();
  if (!ack) return -1;
  *ack = nullptr;
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::Call || d->invite_cseq <= 0) return -1;
  *ack = build_in_dialog(d, "ACK");
  return *ack ? 0 : -1;
}

int eXosip_call_send_ack(int did, osip_message_t *ack) {
  if (!g || !ack) return refuse(ack);
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::Call) return refuse(ack);
  std::string host;
  int port;
  next_hop(ack, host, port);
  int r = send_raw(ack, host, port, d->invite_tid);
  std::string sdp = body_of_type(ack, "application", "sdp");
  if (!sdp.empty()) d->local_sdp = sdp;
  if (d->ack) osip_message_free(d->ack);
  d->ack = ack;
  d->ack_cseq = cseq_num(ack);
  return r;
}

namespace {
// The early dialog whose reliable provisional answer a PRACK for this INVITE acknowledges.
Dialog *prack_dialog(int tid) {
  osip_transaction_t *tr = find_tr(tid);
  TrCtx *ctx = ctx_of(tr);
  for (auto &[cid, cp] : g->calls) {
    if (!(ctx && ctx->cid == cid) && cp->out_tid != tid) continue;
    for (int did : cp->dids) {
      Dialog *d = find_dialog(did);
      if (d && d->last_rseq > 0) return d;
    }
    return nullptr;
  }
  return nullptr;
}
}  // namespace

int eXosip_call_build_prack(int tid, osip_message_t **prack) {
  LOCK();
  if (!prack) return -1;
  *prack = nullptr;
  Dialog *d = prack_dialog(tid);
  osip_message_t *m = d ? build_in_dialog(d, "PRACK") : nullptr;
  if (!m) return -1;
  char rack[64];
  snprintf(rack, sizeof rack, "%d %d INVITE", d->last_rseq, d->rseq_cseq);
  osip_message_set_header(m, "RAck", rack);
  *prack = m;
  return 0;
}

int eXosip_call_send_prack(int tid, osip_message_t *prack) {
  if (!g || !prack) return refuse(prack);
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = prack_dialog(tid);
  if (!d) return refuse(prack);
  if (!start_client(prack, NICT, TrCtx{TrKind::InDialog, d->cid, d->d_id})) return -1;
  run_machines();
  return 0;
}

int eXosip_call_build_request(int did, const char *method, osip_message_t **request) {
  LOCK();
  if (!request || !method) return -1;
  *request = nullptr;
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::Call || !find_call(d->cid)) return -1;
  if (strcmp(method, "INVITE") == 0 && d->d_STATE != 1) return -1;
  *request = build_in_dialog(d, method);
  return *request ? 0 : -1;
}

int eXosip_call_build_info(int did, osip_message_t **request) { return eXosip_call_build_request(did, "INFO", request); }
int eXosip_call_build_update(int did, osip_message_t **request) {
  return eXosip_call_build_request(did, "UPDATE", request);
}
int eXosip_call_build_options(int did, osip_message_t **request) {
  return eXosip_call_build_request(did, "OPTIONS", request);
}

int eXosip_call_build_refer(int did, const char *refer_to, osip_message_t **request) {
  LOCK();
  if (!refer_to || eXosip_call_build_request(did, "REFER", request) != 0) return -1;
  osip_message_set_header(*request, "Refer-To", refer_to);
  return 0;
}

int eXosip_call_build_notify(int did, int subscription_status, osip_message_t **request) {
  LOCK();
  if (eXosip_call_build_request(did, "NOTIFY", request) != 0) return -1;
  const char *state = subscription_status == EXOSIP_SUBCRSTATE_PENDING  ? "pending;expires=180"
                      : subscription_status == EXOSIP_SUBCRSTATE_ACTIVE ? "active;expires=180"
                                                                         : "terminated;reason=noresource";
  osip_message_set_header(*request, "Subscription-State", state);
  return 0;
}

int eXosip_call_send_request(int did, osip_message_t *request) {
  if (!g || !request) return refuse(request);
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  Call *c = d ? find_call(d->cid) : nullptr;
  if (!c || c->ended || !request->sip_method) return refuse(request);
  bool invite = strcmp(request->sip_method, "INVITE") == 0;
  // A newer request of the application stands for one refused and waiting to go again.
  if (c->redo_req && c->redo_did == did && strcmp(c->redo_req->sip_method, request->sip_method) == 0)
    forget_redo(c);
  std::string sdp = body_of_type(request, "application", "sdp");
  if (!sdp.empty()) d->local_sdp = sdp;
  if (d->se_interval > 0 && (invite || strcmp(request->sip_method, "UPDATE") == 0))
    d->next_refresh = Clock::now() + refresh_delay(d->se_interval);
  bool bye = strcmp(request->sip_method, "BYE") == 0;
  osip_transaction_t *tr =
      start_client(request, invite ? ICT : NICT, TrCtx{invite ? TrKind::Invite : TrKind::InDialog, c->c_id, did});
  if (!tr) return -1;
  if (bye) {
    c->bye_tid = tr->transactionid;
    d->se_interval = 0;
  }
  run_machines();
  return 0;
}

int eXosip_call_terminate(int cid, int did) {
  return eXosip_call_terminate_with_text(cid, did, 0, nullptr, nullptr, nullptr, nullptr, nullptr);
}

int eXosip_call_terminate_with_text(int cid, int did, int status, const char *reason, const char *local_ip,
                                    const char *wg67_version, const char *user_agent, void *) {
  LOCK();
  Call *c = find_call(cid);
  if (!c) {
    if (Dialog *d = find_dialog(did)) c = find_call(d->cid);
  }
  if (!c || c->ended) return -1;
  Dialog *d = find_dialog(did);
  if (!d || d->cid != c->c_id) d = nullptr;
  if (!d) {
    for (int id : c->dids) {
      Dialog *x = find_dialog(id);
      if (x && (!d || x->d_STATE > d->d_STATE)) d = x;
    }
  }
  int r = 0;
  if (d && d->d_STATE == 1) {
    if (c->bye_tid) return 0;  // already hanging up
    r = send_bye(c, d, reason, local_ip, wg67_version, user_agent);
  } else if (!c->outgoing) {
    osip_transaction_t *ist = find_tr(c->inc_tid);
    if (ist && server_open(ist)) {
      osip_message_t *ans = build_response(ist->orig_request, status >= 300 && status < 700 ? status : 603,
                                           d && d->od ? d->od->local_tag : nullptr, false);
      if (ans && reason && *reason) osip_message_set_header(ans, "Reason", reason);
      if (ans && wg67_version && *wg67_version) osip_message_set_header(ans, "WG67-Version", wg67_version);
      c->final_sent = true;
      answer_server(ist, ans);
    }
    call_release(c);
  } else {
    osip_transaction_t *ict = find_tr(c->out_tid);
    if (!ict || !ict->orig_request) {
      call_release(c);
    } else if (!c->cancelling) {
      // CANCEL: same Request-URI, Call-ID, From, To, CSeq number and top Via as the INVITE
      osip_message_t *inv = ict->orig_request, *cancel = nullptr;
      osip_message_init(&cancel);
      osip_message_set_method(cancel, osip_strdup("CANCEL"));
      osip_message_set_version(cancel, osip_strdup("SIP/2.0"));
      osip_uri_t *ru = nullptr;
      osip_uri_clone(inv->req_uri, &ru);
      osip_message_set_uri(cancel, ru);
      osip_from_clone(inv->from, &cancel->from);
      osip_to_clone(inv->to, &cancel->to);
      osip_call_id_clone(inv->call_id, &cancel->call_id);
      char cseq[32];
      snprintf(cseq, sizeof cseq, "%s CANCEL", inv->cseq->number);
      osip_message_set_cseq(cancel, cseq);
      osip_via_t *v = nullptr, *vc = nullptr;
      osip_message_get_via(inv, 0, &v);
      if (v && osip_via_clone(v, &vc) == 0) osip_list_add(&cancel->vias, vc, -1);
      osip_list_clone(&inv->routes, &cancel->routes, reinterpret_cast<int (*)(void *, void **)>(&osip_from_clone));
      osip_message_set_header(cancel, "Max-Forwards", "70");
      if (reason && *reason) osip_message_set_header(cancel, "Reason", reason);
      if (wg67_version && *wg67_version) osip_message_set_header(cancel, "WG67-Version", wg67_version);
      c->cancelling = true;
      r = start_client(cancel, NICT, TrCtx{TrKind::Cancel, c->c_id}) ? 0 : -1;
    }
  }
  run_machines();
  return r;
}

int _eXosip_call_transaction_find(int tid, eXosip_call_t **jc, eXosip_dialog_t **jd, osip_transaction_t **tr) {
  if (jc) *jc = nullptr;
  if (jd) *jd = nullptr;
  if (tr) *tr = nullptr;
  LOCK();
  osip_transaction_t *t = find_tr(tid);
  TrCtx *ctx = ctx_of(t);
  Call *c = ctx ? find_call(ctx->cid) : nullptr;
  Dialog *d = ctx ? find_dialog(ctx->did) : nullptr;
  if (!c) {
    for (auto &[did, dp] : g->dialogs)
      if (dp->kind == DlgKind::Call && (dp->invite_tid == tid || dp->resp2xx_tid == tid)) {
        d = dp.get();
        c = find_call(d->cid);
        break;
      }
  }
  if (!c) return -1;
  if (jc) *jc = c;
  if (jd) *jd = d;
  if (tr) *tr = t;
  return 0;
}

int eXosip_call_get_infos(eXosip_call_info_t *infos, int max) {
  LOCK();
  int n = 0;
  for (auto &[cid, cp] : g->calls) {
    if (infos && n < max) {
      eXosip_call_info_t &i = infos[n];
      i = eXosip_call_info_t{};
      i.cid = cid;
      i.inc_tid = find_tr(cp->inc_tid) ? cp->inc_tid : -1;
      i.out_tid = find_tr(cp->out_tid) ? cp->out_tid : -1;
      for (int did : cp->dids) {
        Dialog *d = find_dialog(did);
        if (!d || i.ndialogs >= EXOSIP_INFO_MAX_DIALOGS) continue;
        i.dialogs[i.ndialogs++] = eXosip_dialog_info_t{did, d->d_STATE, static_cast<int>(d->inc_trs.size()),
                                                       static_cast<int>(d->out_trs.size())};
      }
    }
    ++n;
  }
  return n;
}
