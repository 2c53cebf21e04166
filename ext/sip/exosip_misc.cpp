// Requests outside dialogs, subscriptions both ways, registrations with digest
// authentication, SDP access and the automatic actions.
#include "exosip_internal.h"

#include <osipparser2/osip_md5.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <strings.h>

namespace exo {

namespace {

int class_index(int status) { return status < 300 ? 0 : status < 400 ? 1 : status < 500 ? 2 : status < 600 ? 3 : 4; }

int expires_of(const osip_message_t *m, int dflt) {
  std::string e = header_value(m, "Expires");
  if (e.empty()) return dflt;
  int n = atoi(e.c_str());
  return n < 0 ? dflt : n;
}

// Subscription-State: "active;expires=60", "terminated;reason=timeout" ...
void parse_sub_state(const std::string &v, int &status, int &reason) {
  status = EXOSIP_SUBCRSTATE_UNKNOWN;
  reason = 0;
  if (strncasecmp(v.c_str(), "pending", 7) == 0) status = EXOSIP_SUBCRSTATE_PENDING;
  if (strncasecmp(v.c_str(), "active", 6) == 0) status = EXOSIP_SUBCRSTATE_ACTIVE;
  if (strncasecmp(v.c_str(), "terminated", 10) == 0) status = EXOSIP_SUBCRSTATE_TERMINATED;
  static const char *const names[] = {"deactivated", "probation", "rejected", "timeout", "giveup", "noresource"};
  const char *r = strcasestr(v.c_str(), "reason=");
  if (!r) return;
  for (int i = 0; i < 6; ++i)
    if (strncasecmp(r + 7, names[i], strlen(names[i])) == 0) reason = i;
}

void release_insub(Dialog *d) {
  eXosip_event_t *ev = new_event(EXOSIP_IN_SUBSCRIPTION_RELEASED, 0, d->d_id, 0, nullptr, nullptr);
  ev->nid = d->id;
  ev->ss_status = EXOSIP_SUBCRSTATE_TERMINATED;
  push_event(ev);
  free_dialog(d->d_id);
}

void forget_sub_retry(OutSubscription &s) {
  if (s.retry_req) osip_message_free(s.retry_req);
  if (s.retry_resp) osip_message_free(s.retry_resp);
  s.retry_req = s.retry_resp = nullptr;
}

void drop_outsub(int sid) {
  auto it = g->outsubs.find(sid);
  if (it == g->outsubs.end()) return;
  if (it->second.initial) osip_message_free(it->second.initial);
  forget_sub_retry(it->second);
  if (it->second.did) free_dialog(it->second.did);
  g->outsubs.erase(it);
}

std::string md5hex(const std::string &s) {
  osip_MD5_CTX ctx;
  unsigned char dig[16];
  osip_MD5Init(&ctx);
  osip_MD5Update(&ctx, reinterpret_cast<unsigned char *>(const_cast<char *>(s.data())),
                 static_cast<unsigned>(s.size()));
  osip_MD5Final(dig, &ctx);
  char hex[33];
  for (int i = 0; i < 16; ++i) snprintf(hex + 2 * i, 3, "%02x", dig[i]);
  return hex;
}

std::string unquote(const char *s) {
  if (!s) return "";
  std::string v = s;
  if (v.size() >= 2 && v.front() == '"' && v.back() == '"') v = v.substr(1, v.size() - 2);
  return v;
}

osip_message_t *make_register(Registration &r, int expires) {
  osip_message_t *m = nullptr;
  if (osip_message_init(&m) != 0) return nullptr;
  osip_message_set_method(m, osip_strdup("REGISTER"));
  osip_message_set_version(m, osip_strdup("SIP/2.0"));
  osip_uri_t *ru = nullptr;
  if (osip_uri_init(&ru) != 0 || osip_uri_parse(ru, r.proxy.c_str()) != 0 || !ru->host ||
      osip_message_set_to(m, r.from.c_str()) != 0 || osip_message_set_from(m, r.from.c_str()) != 0 || !m->from) {
    if (ru) osip_uri_free(ru);
    osip_message_free(m);
    return nullptr;
  }
  osip_message_set_uri(m, ru);
  osip_from_set_tag(m->from, osip_strdup(r.from_tag.c_str()));
  osip_message_set_call_id(m, r.call_id.c_str());
  char v[64];
  snprintf(v, sizeof v, "%d REGISTER", ++r.cseq);
  osip_message_set_cseq(m, v);
  set_via(m);
  osip_message_set_header(m, "Max-Forwards", "70");
  if (!r.sent_contact.empty())
    osip_message_set_contact(m, r.sent_contact.c_str());
  else if (r.contact.find(':') != std::string::npos)
    osip_message_set_contact(m, r.contact.c_str());
  else if (!r.contact.empty()) {  // a bare user name: bound at this stack's address (no Contact is a query)
    osip_uri_t u{};
    u.username = const_cast<char *>(r.contact.c_str());
    set_contact(m, &u);
  }
  snprintf(v, sizeof v, "%d", expires);
  osip_message_set_header(m, "Expires", v);
  osip_message_set_header(m, "User-Agent", g->user_agent.c_str());
  r.expires = expires;
  if (r.challenge) add_authorization(m, r.challenge);
  return m;
}

// Seconds a registrar granted: the expires of our own Contact, else its Expires, else what
// was asked.
int granted_expires(const Registration &r, const osip_message_t *resp) {
  for (int i = 0; resp; ++i) {
    osip_contact_t *ct = nullptr;
    if (osip_message_get_contact(resp, i, &ct) < 0 || !ct) break;
    char *text = nullptr;
    bool ours = false;
    if (ct->url && osip_uri_to_str(ct->url, &text) == 0 && text) {
      ours = r.sent_contact.find(text) != std::string::npos;
      osip_free(text);
    }
    osip_generic_param_t *p = nullptr;
    if (ours && osip_contact_param_get_byname(ct, const_cast<char *>("expires"), &p) == 0 && p && p->gvalue)
      return atoi(p->gvalue);
  }
  return expires_of(resp, r.expires);
}

}  // namespace

namespace {

const osip_www_authenticate_t *challenge_of(const osip_message_t *challenge, bool &proxy) {
  osip_www_authenticate_t *wa = nullptr;
  proxy = false;
  if (osip_message_get_www_authenticate(challenge, 0, &wa) >= 0 && wa) return wa;
  proxy = true;
  if (osip_message_get_proxy_authenticate(challenge, 0, &wa) >= 0 && wa) return wa;
  return nullptr;
}

// The credentials of the request's user, those of the challenge's realm first; then any of the realm.
const Credential *credential_for(const osip_message_t *msg, const std::string &realm) {
  const char *user_of_msg = msg->from && msg->from->url ? msg->from->url->username : nullptr;
  const Credential *cr = nullptr;
  int best = 0;
  for (const Credential &c : g->creds) {
    if (!c.realm.empty() && c.realm != realm) continue;
    bool same_user = user_of_msg && (c.username == user_of_msg || c.userid == user_of_msg);
    int score = (same_user ? 2 : 0) + (c.realm == realm ? 1 : 0);
    if (!same_user && c.realm.empty()) continue;  // a realm-less credential only serves its own user
    if (score > best) {
      best = score;
      cr = &c;
    }
  }
  return cr;
}

}  // namespace

bool can_authorize(const osip_message_t *msg, const osip_message_t *challenge) {
  bool proxy;
  const osip_www_authenticate_t *wa = challenge_of(challenge, proxy);
  return wa && credential_for(msg, unquote(osip_www_authenticate_get_realm(const_cast<osip_www_authenticate_t *>(wa))));
}

int add_authorization(osip_message_t *msg, const osip_message_t *challenge) {
  bool proxy;
  osip_www_authenticate_t *wa = const_cast<osip_www_authenticate_t *>(challenge_of(challenge, proxy));
  if (!wa) return -1;
  std::string realm = unquote(osip_www_authenticate_get_realm(wa));
  std::string nonce = unquote(osip_www_authenticate_get_nonce(wa));
  std::string opaque = unquote(osip_www_authenticate_get_opaque(wa));
  std::string qop = unquote(osip_www_authenticate_get_qop_options(wa));
  std::string alg = unquote(osip_www_authenticate_get_algorithm(wa));
  if (!alg.empty() && strcasecmp(alg.c_str(), "MD5") != 0) return -1;
  const Credential *cr = credential_for(msg, realm);
  if (!cr || nonce.empty() || !msg->req_uri) return -1;
  char *uri_text = nullptr;
  if (osip_uri_to_str(msg->req_uri, &uri_text) != 0 || !uri_text) return -1;
  std::string uri = uri_text;
  osip_free(uri_text);
  const std::string &user = cr->userid.empty() ? cr->username : cr->userid;
  std::string ha1 = cr->ha1.empty() ? md5hex(user + ":" + realm + ":" + cr->passwd) : cr->ha1;
  std::string ha2 = md5hex(std::string(msg->sip_method) + ":" + uri);
  bool auth_qop = strcasestr(qop.c_str(), "auth") != nullptr;
  std::string cnonce = random_tag() + random_tag();
  std::string response = auth_qop ? md5hex(ha1 + ":" + nonce + ":00000001:" + cnonce + ":auth:" + ha2)
                                  : md5hex(ha1 + ":" + nonce + ":" + ha2);
  std::string h = "Digest username=\"" + user + "\", realm=\"" + realm + "\", nonce=\"" + nonce + "\", uri=\"" +
                  uri + "\", response=\"" + response + "\", algorithm=MD5";
  if (!opaque.empty()) h += ", opaque=\"" + opaque + "\"";
  if (auth_qop) h += ", qop=auth, nc=00000001, cnonce=\"" + cnonce + "\"";
  return proxy ? osip_message_set_proxy_authorization(msg, h.c_str()) : osip_message_set_authorization(msg, h.c_str());
}

osip_message_t *copy_for_resend(const osip_message_t *req, int cseq) {
  osip_message_t *m = nullptr;
  if (!req || !req->cseq || osip_message_clone(req, &m) != 0 || !m) return nullptr;
  osip_free(m->cseq->number);
  m->cseq->number = osip_strdup(std::to_string(cseq).c_str());
  osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&m->vias, 0));
  osip_generic_param_t *br = nullptr;
  if (via && osip_via_param_get_byname(via, const_cast<char *>("branch"), &br) == 0 && br) {
    osip_free(br->gvalue);
    br->gvalue = osip_strdup(new_branch().c_str());
  }
  osip_list_special_free(&m->authorizations, reinterpret_cast<void (*)(void *)>(&osip_authorization_free));
  osip_list_special_free(&m->proxy_authorizations,
                         reinterpret_cast<void (*)(void *)>(&osip_proxy_authorization_free));
  osip_message_force_update(m);
  return m;
}

void out_of_dialog_request(osip_event_t *evt) {
  osip_message_t *m = evt->sip;
  bool full = other_queue_full() || queue_full();
  osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::OutOfDialog});
  if (!tr) return;
  if (full) {
    answer_server(tr, build_response(m, 503, nullptr, false));
    return;
  }
  push_event(new_event(EXOSIP_MESSAGE_NEW, 0, 0, tr->transactionid, m, nullptr));
}

void insub_new(osip_event_t *evt) {
  osip_message_t *m = evt->sip;
  bool full = g->n_insubs >= kMaxInSubscriptions || other_queue_full() || queue_full();
  std::string event = header_value(m, "Event");
  if (event.empty()) event = header_value(m, "o");
  osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::InSubscribe});
  if (!tr) return;
  if (full || event.empty()) {
    answer_server(tr, build_response(m, full ? 503 : 489, nullptr, false));
    return;
  }
  osip_dialog_t *od = uas_dialog(tr, m);
  if (!od) return;
  Dialog *d = new_dialog(DlgKind::InSub, 0, od);
  d->id = g->next_nid++;
  d->event = event;
  d->expires = std::min(expires_of(m, 600), kMaxSubscriptionSeconds);
  d->expiry = Clock::now() + Ms(static_cast<int64_t>(d->expires) * 1000 + 1000);
  d->ss_status = EXOSIP_SUBCRSTATE_PENDING;
  d->inc_trs.insert(tr->transactionid);
  TrCtx *ctx = ctx_of(tr);
  ctx->did = d->d_id;
  ctx->id = d->id;
  eXosip_event_t *ev = new_event(EXOSIP_IN_SUBSCRIPTION_NEW, 0, d->d_id, tr->transactionid, m, nullptr);
  ev->nid = d->id;
  ev->ss_status = d->ss_status;
  ev->ss_reason = d->ss_reason;
  push_event(ev);
}

bool sub_in_dialog(Dialog *d, osip_event_t *evt) {
  osip_message_t *m = evt->sip;
  if (d->kind == DlgKind::InSub && strcmp(m->sip_method, "SUBSCRIBE") == 0) {
    osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::InSubscribe, 0, d->d_id, d->id});
    if (!tr) return true;
    d->expires = std::min(expires_of(m, 600), kMaxSubscriptionSeconds);
    d->expiry = Clock::now() + Ms(static_cast<int64_t>(d->expires) * 1000 + 1000);
    eXosip_event_t *ev = new_event(EXOSIP_IN_SUBSCRIPTION_NEW, 0, d->d_id, tr->transactionid, m, nullptr);
    ev->nid = d->id;
    ev->ss_status = d->ss_status;
    ev->ss_reason = d->ss_reason;
    push_event(ev);
    return true;
  }
  if (d->kind == DlgKind::OutSub && strcmp(m->sip_method, "NOTIFY") == 0) {
    osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::OutOfDialog, 0, d->d_id, d->id});
    if (!tr) return true;
    answer_server(tr, build_response(m, 200, nullptr, false));
    parse_sub_state(header_value(m, "Subscription-State"), d->ss_status, d->ss_reason);
    eXosip_event_t *ev = new_event(EXOSIP_SUBSCRIPTION_NOTIFY, 0, d->d_id, tr->transactionid, m, nullptr);
    ev->sid = d->id;
    ev->ss_status = d->ss_status;
    ev->ss_reason = d->ss_reason;
    push_event(ev);
    if (d->ss_status == EXOSIP_SUBCRSTATE_TERMINATED) drop_outsub(d->id);
    return true;
  }
  reject(evt, 405);
  return true;
}

bool sub_notify_without_dialog(osip_event_t *evt) {
  osip_message_t *m = evt->sip;
  osip_generic_param_t *tag = nullptr;
  if (osip_to_get_tag(m->to, &tag) != 0 || !tag || !tag->gvalue) return false;
  for (auto &[sid, s] : g->outsubs) {
    if (s.did || s.from_tag != tag->gvalue || !s.initial || osip_call_id_match(s.initial->call_id, m->call_id) != 0)
      continue;
    osip_dialog_t *od = nullptr;
    if (osip_dialog_init_as_uac_with_remote_request(&od, m, atoi(s.initial->cseq->number)) != 0) return false;
    Dialog *d = new_dialog(DlgKind::OutSub, 0, od);
    d->id = sid;
    d->event = s.event;
    d->d_STATE = 1;
    s.did = d->d_id;
    return sub_in_dialog(d, evt);
  }
  return false;
}

void misc_nict_response(int type, osip_transaction_t *tr, osip_message_t *resp) {
  TrCtx *ctx = ctx_of(tr);
  int tid = tr->transactionid;
  bool timeout = type == OSIP_NICT_STATUS_TIMEOUT;
  int status = resp ? resp->status_code : 408;
  if (!timeout && status < 200 && ctx->kind != TrKind::Subscribe && ctx->kind != TrKind::OutOfDialog) return;
  switch (ctx->kind) {
    case TrKind::OutOfDialog: {
      static const eXosip_event_type_t t[] = {EXOSIP_MESSAGE_ANSWERED, EXOSIP_MESSAGE_REDIRECTED,
                                              EXOSIP_MESSAGE_REQUESTFAILURE, EXOSIP_MESSAGE_SERVERFAILURE,
                                              EXOSIP_MESSAGE_GLOBALFAILURE};
      eXosip_event_type_t type_ev = timeout           ? EXOSIP_MESSAGE_REQUESTFAILURE
                                    : status < 200 ? EXOSIP_MESSAGE_PROCEEDING
                                                   : t[class_index(status)];
      push_event(new_event(type_ev, 0, 0, tid, tr->orig_request, resp));
      return;
    }
    case TrKind::Register: {
      auto it = g->regs.find(ctx->id);
      if (it == g->regs.end()) return;
      Registration &r = it->second;
      if (resp && (status == 401 || status == 407)) {
        if (r.challenge) osip_message_free(r.challenge);
        osip_message_clone(resp, &r.challenge);
      }
      bool ok = status >= 200 && status < 300 && !timeout;
      int granted = ok ? granted_expires(r, resp) : 0;
      // Refreshed at nine tenths of what the registrar granted, as long as it keeps accepting.
      r.refresh_at = granted > 0 ? Clock::now() + Ms(static_cast<int64_t>(granted) * 900) : Clock::time_point{};
      eXosip_event_t *ev = new_event(status >= 200 && status < 300 && !timeout ? EXOSIP_REGISTRATION_SUCCESS
                                                                              : EXOSIP_REGISTRATION_FAILURE,
                                     0, 0, tid, tr->orig_request, resp);
      ev->rid = r.rid;
      push_event(ev);
      return;
    }
    case TrKind::Subscribe: {
      auto it = g->outsubs.find(ctx->id);
      if (it == g->outsubs.end()) return;
      OutSubscription &s = it->second;
      s.refresh_pending = false;
      if (status >= 200 && status < 300) s.retries = 0;
      bool retry = !timeout && sub_retry_kept(s, tr, resp);
      eXosip_event_type_t t;
      if (timeout) {
        t = EXOSIP_SUBSCRIPTION_NOANSWER;
      } else if (status < 200) {
        t = EXOSIP_SUBSCRIPTION_PROCEEDING;
      } else if (status < 300) {
        t = EXOSIP_SUBSCRIPTION_ANSWERED;
        Dialog *d = find_dialog(s.did);
        if (!d) {
          osip_dialog_t *od = nullptr;
          if (osip_dialog_init_as_uac(&od, resp) == 0) {
            d = new_dialog(DlgKind::OutSub, 0, od);
            d->id = s.sid;
            d->event = s.event;
            s.did = d->d_id;
          }
        } else {
          osip_dialog_update_route_set_as_uac(d->od, resp);
        }
        if (d) {
          osip_dialog_set_state(d->od, DIALOG_CONFIRMED);
          d->d_STATE = 1;
        }
        int exp = expires_of(resp, s.expires);
        s.refresh_at = Clock::now() + Ms(static_cast<int64_t>(exp) * 1000 / 2);
      } else {
        static const eXosip_event_type_t f[] = {EXOSIP_SUBSCRIPTION_ANSWERED, EXOSIP_SUBSCRIPTION_REDIRECTED,
                                                EXOSIP_SUBSCRIPTION_REQUESTFAILURE,
                                                EXOSIP_SUBSCRIPTION_SERVERFAILURE,
                                                EXOSIP_SUBSCRIPTION_GLOBALFAILURE};
        t = f[class_index(status)];
      }
      eXosip_event_t *ev = new_event(t, 0, s.did, tid, tr->orig_request, resp);
      ev->sid = s.sid;
      push_event(ev);
      if (!retry && (timeout || status >= 300) && (!s.did || status == 481 || timeout)) drop_outsub(s.sid);
      return;
    }
    case TrKind::Notify: {
      Dialog *d = find_dialog(ctx->did);
      static const eXosip_event_type_t f[] = {EXOSIP_NOTIFICATION_ANSWERED, EXOSIP_NOTIFICATION_REDIRECTED,
                                              EXOSIP_NOTIFICATION_REQUESTFAILURE,
                                              EXOSIP_NOTIFICATION_SERVERFAILURE,
                                              EXOSIP_NOTIFICATION_GLOBALFAILURE};
      eXosip_event_t *ev =
          new_event(timeout ? EXOSIP_NOTIFICATION_NOANSWER : f[class_index(status)], 0, ctx->did, tid,
                    tr->orig_request, resp);
      ev->nid = ctx->id;
      push_event(ev);
      if (d && (d->closing || timeout || status == 481)) release_insub(d);
      return;
    }
    default:
      return;
  }
}

void sub_timers(Clock::time_point now) {
  std::vector<Dialog *> expired;
  for (auto &[did, d] : g->dialogs)
    if (d->kind == DlgKind::InSub && now >= d->expiry) expired.push_back(d.get());
  for (Dialog *d : expired) release_insub(d);
  std::vector<int> unanswered;  // challenged and not sent again in time
  for (auto &[sid, s] : g->outsubs)
    if (s.retry_req && now >= s.retry_deadline) {
      forget_sub_retry(s);
      if (!s.did) unanswered.push_back(sid);
    }
  for (int sid : unanswered) drop_outsub(sid);
}

bool sub_retry_kept(OutSubscription &s, osip_transaction_t *tr, const osip_message_t *resp) {
  int st = resp ? resp->status_code : 0;
  if ((st != 401 && st != 407) || s.retries >= 2 || !tr->orig_request || !can_authorize(tr->orig_request, resp))
    return false;
  forget_sub_retry(s);
  osip_message_clone(tr->orig_request, &s.retry_req);
  osip_message_clone(resp, &s.retry_resp);
  s.retry_tid = tr->transactionid;
  s.retry_deadline = Clock::now() + Ms(5000);
  return s.retry_req && s.retry_resp;
}

// The SUBSCRIBE again with credentials: in its dialog when it has one, else as a new request
// of the same Call-ID whose copy stands for the initial one.
int sub_retry(OutSubscription &s) {
  Dialog *d = find_dialog(s.did);
  int cseq = d && d->od ? ++d->od->local_cseq : atoi(s.retry_req->cseq->number) + 1;
  osip_message_t *m = copy_for_resend(s.retry_req, cseq);
  osip_message_t *resp = s.retry_resp;
  s.retry_resp = nullptr;
  forget_sub_retry(s);
  if (!m || add_authorization(m, resp) != 0) {
    osip_message_free(resp);
    if (m) osip_message_free(m);
    if (!s.did) drop_outsub(s.sid);
    return -1;
  }
  osip_message_free(resp);
  ++s.retries;
  if (!d) {
    if (s.initial) osip_message_free(s.initial);
    osip_message_clone(m, &s.initial);
  }
  int sid = s.sid;
  if (!start_client(m, NICT, TrCtx{TrKind::Subscribe, 0, s.did, sid})) {
    if (!s.did) drop_outsub(sid);
    return -1;
  }
  s.refresh_pending = d != nullptr;  // a refresh on its way: the automatic one waits for its answer
  run_machines();
  return 0;
}

void subs_clear() {
  while (!g->outsubs.empty()) drop_outsub(g->outsubs.begin()->first);
}

}  // namespace exo

using namespace exo;

#define LOCK()                                 \
  if (!g) return -1;                           \
  std::lock_guard<StackLock> lk_(g->mtx)

int eXosip_default_action(eXosip_event_t *je) {
  LOCK();
  if (!je) return -1;
  Call *c = find_call(je->cid);
  if (je->type == EXOSIP_CALL_REQUESTFAILURE && c && c->retry_resp && c->retry_tid == je->tid) return call_retry(c);
  if (je->type == EXOSIP_CALL_MESSAGE_REQUESTFAILURE && c && c->redo_req && c->redo_tid == je->tid &&
      c->redo_at == Clock::time_point{})
    return call_redo(c);
  if (je->type == EXOSIP_SUBSCRIPTION_REQUESTFAILURE) {
    auto it = g->outsubs.find(je->sid);
    if (it != g->outsubs.end() && it->second.retry_req && it->second.retry_tid == je->tid) return sub_retry(it->second);
  }
  return 0;
}

void eXosip_automatic_refresh(void) {
  if (!g) return;
  std::lock_guard<StackLock> lk(g->mtx);
  auto now = Clock::now();
  for (auto &[sid, s] : g->outsubs) {
    Dialog *d = find_dialog(s.did);
    if (!d || s.refresh_pending || s.retry_req || now < s.refresh_at || s.expires <= 0) continue;
    osip_message_t *m = nullptr;
    if (eXosip_subscribe_build_refresh_request(s.did, &m) != 0) continue;
    if (eXosip_subscribe_send_refresh_request(s.did, m) == 0) s.refresh_pending = true;
  }
  for (auto &[rid, r] : g->regs) {
    if (r.refresh_at == Clock::time_point{} || now < r.refresh_at || r.expires <= 0) continue;
    r.refresh_at = {};
    osip_message_t *m = make_register(r, r.expires);
    if (!m || !start_client(m, NICT, TrCtx{TrKind::Register, 0, 0, rid}))
      EXO_LOG(OSIP_ERROR, "eXosip: registration %d not refreshed\n", rid);
  }
  run_machines();
}

void eXosip_automatic_action(void) { eXosip_automatic_refresh(); }

int eXosip_message_build_request(osip_message_t **message, const char *method, const char *to, const char *from,
                                 const char *route) {
  LOCK();
  if (!method || !*method) return -2;
  return build_request(message, method, to, from, route);
}

int eXosip_message_send_request(osip_message_t *message) {
  if (!g || !message) return refuse(message);
  std::lock_guard<StackLock> lk(g->mtx);
  osip_transaction_t *tr = start_client(message, NICT, TrCtx{TrKind::OutOfDialog});
  if (!tr) return -1;
  int tid = tr->transactionid;
  run_machines();
  return tid;
}

int eXosip_message_build_answer(int tid, int status, osip_message_t **answer) {
  LOCK();
  if (!answer) return -1;
  *answer = nullptr;
  osip_transaction_t *tr = find_tr(tid);
  if (!server_open(tr) || tr->ctx_type != NIST || !tr->orig_request || status < 101 || status > 699) return -1;
  *answer = build_response(tr->orig_request, status, nullptr, false);
  return *answer ? 0 : -1;
}

int eXosip_message_send_answer(int tid, int status, osip_message_t *answer) {
  if (!g) return refuse(answer);
  std::lock_guard<StackLock> lk(g->mtx);
  osip_transaction_t *tr = find_tr(tid);
  if (!server_open(tr) || tr->ctx_type != NIST) return refuse(answer);
  if (!answer && eXosip_message_build_answer(tid, status, &answer) != 0) return -1;
  answer_server(tr, answer);
  run_machines();
  return 0;
}

int eXosip_options_build_request(osip_message_t **options, const char *to, const char *from, const char *route) {
  return eXosip_message_build_request(options, "OPTIONS", to, from, route);
}
int eXosip_options_send_request(osip_message_t *options) { return eXosip_message_send_request(options); }
int eXosip_options_build_answer(int tid, int status, osip_message_t **answer) {
  return eXosip_message_build_answer(tid, status, answer);
}
int eXosip_options_send_answer(int tid, int status, osip_message_t *answer) {
  return eXosip_message_send_answer(tid, status, answer);
}

int eXosip_insubscription_build_answer(int tid, int status, osip_message_t **answer) {
  LOCK();
  if (!answer) return -1;
  *answer = nullptr;
  osip_transaction_t *tr = find_tr(tid);
  TrCtx *ctx = ctx_of(tr);
  if (!server_open(tr) || !ctx || ctx->kind != TrKind::InSubscribe || status < 101 || status > 699) return -1;
  Dialog *d = find_dialog(ctx->did);
  *answer = build_response(tr->orig_request, status, d && d->od ? d->od->local_tag : nullptr,
                           status >= 200 && status < 300);
  if (*answer && d && status >= 200 && status < 300) {
    char v[16];
    snprintf(v, sizeof v, "%d", d->expires);
    osip_message_set_header(*answer, "Expires", v);
  }
  return *answer ? 0 : -1;
}

int eXosip_insubscription_send_answer(int tid, int status, osip_message_t *answer) {
  if (!g) return refuse(answer);
  std::lock_guard<StackLock> lk(g->mtx);
  osip_transaction_t *tr = find_tr(tid);
  TrCtx *ctx = ctx_of(tr);
  if (!server_open(tr) || !ctx || ctx->kind != TrKind::InSubscribe) return refuse(answer);
  if (!answer && eXosip_insubscription_build_answer(tid, status, &answer) != 0) return -1;
  status = answer->status_code;
  Dialog *d = find_dialog(ctx->did);
  if (d && status >= 200 && status < 300) {
    osip_dialog_set_state(d->od, DIALOG_CONFIRMED);
    d->d_STATE = 1;
  }
  answer_server(tr, answer);
  if (d && status >= 300 && d->d_STATE == 0) free_dialog(d->d_id);  // refused: no subscription
  run_machines();
  return 0;
}

int eXosip_insubscription_build_request(int did, const char *method, osip_message_t **request) {
  LOCK();
  if (!request || !method) return -1;
  *request = nullptr;
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::InSub) return -1;
  *request = build_in_dialog(d, method);
  return *request ? 0 : -1;
}

int eXosip_insubscription_build_notify(int did, int subscription_status, int subscription_reason,
                                       osip_message_t **request) {
  LOCK();
  if (eXosip_insubscription_build_request(did, "NOTIFY", request) != 0) return -1;
  Dialog *d = find_dialog(did);
  osip_message_set_header(*request, "Event", d->event.c_str());
  char v[96];
  long left = std::chrono::duration_cast<std::chrono::seconds>(d->expiry - Clock::now()).count() - 1;
  if (left < 0) left = 0;
  static const char *const reasons[] = {"deactivated", "probation", "rejected", "timeout", "giveup", "noresource"};
  if (subscription_status == EXOSIP_SUBCRSTATE_PENDING)
    snprintf(v, sizeof v, "pending;expires=%ld", left);
  else if (subscription_status == EXOSIP_SUBCRSTATE_ACTIVE)
    snprintf(v, sizeof v, "active;expires=%ld", left);
  else
    snprintf(v, sizeof v, "terminated;reason=%s",
             reasons[subscription_reason >= 0 && subscription_reason < 6 ? subscription_reason : 0]);
  osip_message_set_header(*request, "Subscription-State", v);
  d->ss_status = subscription_status;
  d->ss_reason = subscription_reason;
  return 0;
}

int eXosip_insubscription_send_request(int did, osip_message_t *request) {
  if (!g || !request) return refuse(request);
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::InSub) return refuse(request);
  drop_headers(request, "Event", true);
  if (strncasecmp(header_value(request, "Subscription-State").c_str(), "terminated", 10) == 0) d->closing = true;
  if (!start_client(request, NICT, TrCtx{TrKind::Notify, 0, did, d->id})) return -1;
  run_machines();
  return 0;
}

int eXosip_subscribe_build_initial_request(osip_message_t **subscribe, const char *to, const char *from,
                                           const char *route, const char *event, int expires) {
  LOCK();
  if (!event || !*event) return -2;
  int r = build_request(subscribe, "SUBSCRIBE", to, from, route);
  if (r != 0) return r;
  osip_message_set_header(*subscribe, "Event", event);
  char v[16];
  snprintf(v, sizeof v, "%d", expires);
  osip_message_set_header(*subscribe, "Expires", v);
  return 0;
}

int eXosip_subscribe_send_initial_request(osip_message_t *subscribe) {
  if (!g || !subscribe) return refuse(subscribe);
  std::lock_guard<StackLock> lk(g->mtx);
  osip_generic_param_t *tag = nullptr;
  if (!subscribe->from || osip_from_get_tag(subscribe->from, &tag) != 0 || !tag || !tag->gvalue)
    return refuse(subscribe);
  OutSubscription s;
  s.sid = g->next_sid++;
  s.from_tag = tag->gvalue;
  s.event = header_value(subscribe, "Event");
  s.expires = expires_of(subscribe, 600);
  osip_message_clone(subscribe, &s.initial);
  int sid = s.sid;
  g->outsubs[sid] = s;
  if (!start_client(subscribe, NICT, TrCtx{TrKind::Subscribe, 0, 0, sid})) {
    drop_outsub(sid);
    return -1;
  }
  run_machines();
  return sid;
}

int eXosip_subscribe_build_refresh_request(int did, osip_message_t **subscribe) {
  LOCK();
  if (!subscribe) return -1;
  *subscribe = nullptr;
  Dialog *d = find_dialog(did);
  if (!d || d->kind != DlgKind::OutSub) return -1;
  auto it = g->outsubs.find(d->id);
  if (it == g->outsubs.end()) return -1;
  osip_message_t *m = build_in_dialog(d, "SUBSCRIBE");
  if (!m) return -1;
  osip_message_set_header(m, "Event", d->event.c_str());
  char v[16];
  snprintf(v, sizeof v, "%d", it->second.expires);
  osip_message_set_header(m, "Expires", v);
  *subscribe = m;
  return 0;
}

int eXosip_subscribe_send_refresh_request(int did, osip_message_t *subscribe) {
  if (!g || !subscribe) return refuse(subscribe);
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  auto it = d ? g->outsubs.find(d->id) : g->outsubs.end();
  if (!d || d->kind != DlgKind::OutSub || it == g->outsubs.end()) return refuse(subscribe);
  drop_headers(subscribe, "Event", true);
  drop_headers(subscribe, "Expires", true);
  it->second.expires = expires_of(subscribe, it->second.expires);
  if (!start_client(subscribe, NICT, TrCtx{TrKind::Subscribe, 0, did, d->id})) return -1;
  run_machines();
  return 0;
}

int eXosip_register_build_initial_register(const char *from, const char *proxy, const char *contact, int expires,
                                           osip_message_t **reg) {
  LOCK();
  if (!reg || !from || !proxy) return -1;
  *reg = nullptr;
  Registration r;
  r.rid = g->next_rid;
  r.from = from;
  r.proxy = proxy;
  r.contact = contact ? contact : "";
  r.call_id = random_tag() + random_tag() + "@" + local_addr();
  r.from_tag = random_tag();
  osip_message_t *m = make_register(r, expires);
  if (!m) return -1;
  ++g->next_rid;
  g->regs[r.rid] = r;
  *reg = m;
  return r.rid;
}

int eXosip_register_build_register(int rid, int expires, osip_message_t **reg) {
  LOCK();
  if (!reg) return -1;
  *reg = nullptr;
  auto it = g->regs.find(rid);
  if (it == g->regs.end()) return -1;
  *reg = make_register(it->second, expires);
  return *reg ? 0 : -1;
}

int eXosip_register_send_register(int rid, osip_message_t *reg) {
  if (!g || !reg) return refuse(reg);
  std::lock_guard<StackLock> lk(g->mtx);
  auto it = g->regs.find(rid);
  if (it == g->regs.end()) return refuse(reg);
  Registration &r = it->second;
  osip_contact_t *ct = nullptr;
  if (osip_message_get_contact(reg, 0, &ct) < 0 || !ct) {
    char v[320];
    if (r.contact.empty())
      snprintf(v, sizeof v, "<sip:%s:%d>", local_addr().c_str(), g->port);
    else
      snprintf(v, sizeof v, "<sip:%s@%s:%d>", r.contact.c_str(), local_addr().c_str(), g->port);
    osip_message_set_contact(reg, v);
    osip_message_get_contact(reg, 0, &ct);
  }
  char *text = nullptr;
  if (ct && osip_contact_to_str(ct, &text) == 0 && text) {
    r.sent_contact = text;
    osip_free(text);
  }
  r.refresh_at = {};  // this one stands for the refresh
  if (!start_client(reg, NICT, TrCtx{TrKind::Register, 0, 0, rid})) return -1;
  run_machines();
  return 0;
}

int eXosip_add_authentication_info(const char *username, const char *userid, const char *passwd, const char *ha1,
                                   const char *realm) {
  LOCK();
  if (!username || !*username) return -1;
  Credential c{username, userid ? userid : "", passwd ? passwd : "", ha1 ? ha1 : "", realm ? realm : ""};
  for (Credential &x : g->creds)
    if (x.username == c.username && x.realm == c.realm) {
      x = c;
      return 0;
    }
  if (g->creds.size() >= 64) g->creds.erase(g->creds.begin());
  g->creds.push_back(c);
  return 0;
}

int eXosip_clear_authentication_info(void) {
  LOCK();
  g->creds.clear();
  return 0;
}

namespace {
// osipparser2's SDP parser reads past the end of some lines (an m= line without formats that
// ends in a bare LF): it gets a copy with CRLF after every line, and only lines it parses safely.
bool safe_sdp(const std::string &text, std::string &out) {
  out.clear();
  size_t i = 0;
  while (i < text.size()) {
    size_t e = text.find_first_of("\r\n", i);
    if (e == std::string::npos) e = text.size();
    std::string line = text.substr(i, e - i);
    i = e;
    if (i < text.size() && text[i] == '\r') ++i;
    if (i < text.size() && text[i] == '\n') ++i;
    if (line.empty()) continue;
    if (line.size() < 2 || line[0] < 'a' || line[0] > 'z' || line[1] != '=' || line.find('\0') != std::string::npos)
      return false;
    if (line[0] == 'm') {  // media port proto fmt...: at least one format
      int fields = 0;
      bool in = false;
      for (char ch : line.substr(2)) {
        if (ch != ' ' && !in) ++fields;
        in = ch != ' ';
      }
      if (fields < 4) return false;
    }
    out += line;
    out += "\r\n";
  }
  return !out.empty();
}

sdp_message_t *parse_sdp(const std::string &text) {
  std::string safe;
  if (!safe_sdp(text, safe)) {
    if (!text.empty()) EXO_LOG(OSIP_WARNING, "eXosip: bad SDP refused\n");
    return nullptr;
  }
  sdp_message_t *sdp = nullptr;
  if (sdp_message_init(&sdp) != 0) return nullptr;
  if (sdp_message_parse(sdp, safe.c_str()) != 0) {
    sdp_message_free(sdp);
    return nullptr;
  }
  return sdp;
}
}  // namespace

sdp_message_t *eXosip_get_remote_sdp(int did) {
  if (!g) return nullptr;
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  return d ? parse_sdp(d->remote_sdp) : nullptr;
}

sdp_message_t *eXosip_get_local_sdp(int did) {
  if (!g) return nullptr;
  std::lock_guard<StackLock> lk(g->mtx);
  Dialog *d = find_dialog(did);
  return d ? parse_sdp(d->local_sdp) : nullptr;
}

sdp_message_t *eXosip_get_sdp_info(osip_message_t *message) {
  if (!message) return nullptr;
  std::string body = body_of_type(message, "application", "sdp");
  if (body.empty() && !message->content_type) {
    osip_body_t *b = static_cast<osip_body_t *>(osip_list_get(&message->bodies, 0));
    if (b && b->body && b->length > 2 && strncmp(b->body, "v=", 2) == 0) body.assign(b->body, b->length);
  }
  return parse_sdp(body);
}

sdp_media_t *eXosip_get_audio_media(sdp_message_t *sdp) {
  if (!sdp) return nullptr;
  for (int i = 0; !sdp_message_endof_media(sdp, i); ++i) {
    const char *m = sdp_message_m_media_get(sdp, i);
    if (m && osip_strcasecmp(m, "audio") == 0) return static_cast<sdp_media_t *>(osip_list_get(&sdp->m_medias, i));
  }
  return nullptr;
}

sdp_connection_t *eXosip_get_audio_connection(sdp_message_t *sdp) {
  if (!sdp) return nullptr;
  for (int i = 0; !sdp_message_endof_media(sdp, i); ++i) {
    const char *m = sdp_message_m_media_get(sdp, i);
    if (m && osip_strcasecmp(m, "audio") == 0) {
      sdp_connection_t *c = sdp_message_connection_get(sdp, i, 0);
      if (c && c->c_addr) return c;
      break;
    }
  }
  return sdp_message_connection_get(sdp, -1, 0);
}
