// Stack state, UDP transport, osip2 transaction machines and the event queue.
#include "exosip_internal.h"

#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

// osip2's timer checks, exported by the library but declared only in its private headers.
extern "C" {
osip_event_t *__osip_ict_need_timer_a_event(osip_ict_t *, state_t, int);
osip_event_t *__osip_ict_need_timer_b_event(osip_ict_t *, state_t, int);
osip_event_t *__osip_ict_need_timer_d_event(osip_ict_t *, state_t, int);
osip_event_t *__osip_ist_need_timer_g_event(osip_ist_t *, state_t, int);
osip_event_t *__osip_ist_need_timer_h_event(osip_ist_t *, state_t, int);
osip_event_t *__osip_ist_need_timer_i_event(osip_ist_t *, state_t, int);
osip_event_t *__osip_nict_need_timer_e_event(osip_nict_t *, state_t, int);
osip_event_t *__osip_nict_need_timer_f_event(osip_nict_t *, state_t, int);
osip_event_t *__osip_nict_need_timer_k_event(osip_nict_t *, state_t, int);
osip_event_t *__osip_nist_need_timer_j_event(osip_nist_t *, state_t, int);
}

namespace exo {

Stack *g = nullptr;

namespace {

std::mt19937 &rng() {
  static std::mt19937 r{std::random_device{}()};
  return r;
}

void free_garbage() {
  for (osip_transaction_t *tr : g->garbage) {
    delete static_cast<TrCtx *>(osip_transaction_get_reserved1(tr));
    osip_transaction_free2(tr);
  }
  g->garbage.clear();
}

// osip2 takes 8000 bytes to print each message and about 15 kB for each transaction. glibc
// serves a request that large only after merging every small block freed since
// (malloc_consolidate), which took an eighth of the stack's time: those requests are served
// from a few blocks kept for the purpose. They are ordinary heap blocks, so that whoever frees
// one with free() may. Shared by the threads: a transaction is often freed by the application's
// thread after the stack's thread made it.
constexpr size_t kBigBlock = 16384;
constexpr int kBigKept = 32;
struct BigBlocks {
  std::mutex m;  // guards the members below
  void *kept[kBigKept];
  int n = 0;
};
BigBlocks big_blocks;  // its blocks stay with the process: osip2 may free a message after the stack ends

void *osip_block_alloc(size_t n) {
  if (n <= 1024 || n > kBigBlock) return malloc(n);
  {
    std::lock_guard<std::mutex> lk(big_blocks.m);
    if (big_blocks.n > 0) return big_blocks.kept[--big_blocks.n];
  }
  return malloc(kBigBlock);
}

void osip_block_free(void *p) {
  size_t size = malloc_usable_size(p);
  if (size >= kBigBlock && size < kBigBlock + 64) {
    std::lock_guard<std::mutex> lk(big_blocks.m);
    if (big_blocks.n < kBigKept) {
      big_blocks.kept[big_blocks.n++] = p;
      return;
    }
  }
  free(p);
}

int cb_send(osip_transaction_t *tr, osip_message_t *msg, char *host, int port, int) {
  std::string h = host ? host : "";
  TrCtx *c = ctx_of(tr);
  // The final answer of a non-INVITE server transaction outlives it (see end_answered).
  bool keep = c && tr->ctx_type == NIST && MSG_IS_RESPONSE(msg) && msg->status_code >= 200;
  if (keep) {
    c->final_host = h;
    c->final_port = port;
  }
  return send_raw(msg, h, port, tr ? tr->transactionid : 0, keep ? &c->final_text : nullptr) == 0 ? 0 : -1;
}

void cb_kill(int, osip_transaction_t *tr) { tr_done(tr); }

void cb_ict(int type, osip_transaction_t *tr, osip_message_t *msg) { call_ict_response(type, tr, msg); }

void cb_nict(int type, osip_transaction_t *tr, osip_message_t *msg) {
  TrCtx *c = ctx_of(tr);
  if (!c) return;
  if (c->kind == TrKind::InDialog)
    call_nict_response(type, tr, msg);
  else
    misc_nict_response(type, tr, msg);
}

void cb_ist_ack(int, osip_transaction_t *tr, osip_message_t *ack) {
  // An ACK carrying the INVITE's branch: only one for a 2xx concerns the dialog.
  if (ack && tr->last_response && MSG_IS_STATUS_2XX(tr->last_response)) call_ack(ack);
}

// A message that cannot leave ends its transaction (osip2 kills it): the layer treats it as
// a transaction that timed out, so that what waited on it (a call, a NOTIFY) is released.
void cb_transport_error(int type, osip_transaction_t *tr, int) {
  TrCtx *c = ctx_of(tr);
  if (!c) return;
  switch (type) {
    case OSIP_ICT_TRANSPORT_ERROR:
      call_ict_response(OSIP_ICT_STATUS_TIMEOUT, tr, nullptr);
      return;
    case OSIP_NICT_TRANSPORT_ERROR:
      cb_nict(OSIP_NICT_STATUS_TIMEOUT, tr, nullptr);
      return;
    default:  // an answer that cannot leave: a call still waiting for it goes
      if (Call *call = find_call(c->cid); call && call->inc_tid == tr->transactionid && !call->answered)
        call_release(call);
      return;
  }
}

bool valid_message(const osip_message_t *m) {
  if (!m || !m->from || !m->from->url || !m->to || !m->to->url || !m->call_id || !m->call_id->number || !m->cseq ||
      !m->cseq->method || !m->cseq->number || osip_list_size(&m->vias) < 1)
    return false;
  osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&m->vias, 0));
  if (!via || !via->host) return false;
  if (MSG_IS_REQUEST(m)) {
    if (!m->sip_method || !m->req_uri || strcmp(m->sip_method, m->cseq->method) != 0) return false;
  } else if (m->status_code < 100 || m->status_code > 699) {
    return false;
  }
  char *end = nullptr;
  long n = strtol(m->cseq->number, &end, 10);
  return end && *end == '\0' && n >= 0 && n < 0x7fffffffL;
}

bool has_to_tag(const osip_message_t *m) {
  osip_generic_param_t *tag = nullptr;
  return osip_to_get_tag(m->to, &tag) == 0 && tag && tag->gvalue;
}

Dialog *match_incoming(const osip_message_t *req) {
  return dialog_of_call_id(req->call_id, [req](Dialog *d) {
    return d->od && osip_dialog_match_as_uas(d->od, const_cast<osip_message_t *>(req)) == 0;
  });
}

const char *branch_of(const osip_message_t *m) {
  osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&m->vias, 0));
  osip_generic_param_t *b = nullptr;
  if (!via || osip_via_param_get_byname(via, const_cast<char *>("branch"), &b) != 0 || !b || !b->gvalue) return nullptr;
  return b->gvalue;
}

// A response's client transaction: branch and CSeq method (RFC 3261 17.1.3).
std::string client_key(const osip_message_t *m) {
  const char *br = branch_of(m);
  std::string k = "C ";
  k += br ? br : "";
  k += ' ';
  k += m->cseq->method;
  return k;
}

// A request's server transaction: branch, sent-by and method, an ACK going with its INVITE
// (RFC 3261 17.2.3); without an RFC 3261 branch, Call-ID, From tag and CSeq number instead.
std::string server_key(const osip_message_t *m, const char *method) {
  osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&m->vias, 0));
  const char *br = branch_of(m);
  std::string k = "S ";
  if (br && strncmp(br, "z9hG4bK", 7) == 0) {
    k += br;
  } else {
    osip_generic_param_t *tag = nullptr;
    osip_from_get_tag(m->from, &tag);
    k += call_id_of(m->call_id);
    k += ' ';
    k += tag && tag->gvalue ? tag->gvalue : "";
    k += ' ';
    k += m->cseq->number;
  }
  k += ' ';
  k += via->host;
  k += ':';
  k += via->port ? via->port : "5060";
  k += ' ';
  k += method;
  return k;
}

std::string server_key(const osip_message_t *m) {
  return server_key(m, strcmp(m->sip_method, "ACK") == 0 ? "INVITE" : m->sip_method);
}

osip_transaction_t *tr_by_key(const std::string &key) {
  auto it = g->tr_index.find(key);
  return it == g->tr_index.end() ? nullptr : find_tr(it->second);
}

void index_tr(osip_transaction_t *tr, TrCtx *c, std::string key) {
  // osip2 walks (and appends to the end of) its own lists: the transaction leaves them at once.
  osip_remove_transaction(g->osip, tr);
  c->key = std::move(key);
  g->tr_index[c->key] = tr->transactionid;
}

void send_lingering(const Linger &l) { send_text(l.text.data(), l.text.size(), l.host, l.port); }

void expire_lingering(Clock::time_point now) {
  while (!g->linger_order.empty() &&
         (g->linger_order.front().first <= now || g->linger_bytes > kMaxLingeringBytes)) {
    auto it = g->lingering.find(g->linger_order.front().second);
    if (it != g->lingering.end()) {
      g->linger_bytes -= it->second.text.size() + 2 * it->first.size() + 128;
      g->lingering.erase(it);
    }
    g->linger_order.pop_front();
  }
}

// A non-INVITE server transaction that has sent its final answer only absorbs retransmitted
// requests until timer J (64*T1): it becomes the bytes of that answer and ends.
void end_answered(osip_transaction_t *tr, TrCtx *c) {
  if (!c->final_text.empty() && !c->key.empty()) {
    Linger &l = g->lingering[c->key];
    l.text = std::move(c->final_text);
    l.host = std::move(c->final_host);
    l.port = c->final_port;
    g->linger_bytes += l.text.size() + 2 * c->key.size() + 128;
    g->linger_order.emplace_back(Clock::now() + Ms(64 * kT1), c->key);
    expire_lingering(Clock::now());
  }
  tr_done(tr);
}

// Next timer of the transaction from osip2's own fields, for the states that use each
// (those that osip2's timer checks test). Fields already past are skipped when only_future.
void schedule(osip_transaction_t *tr, TrCtx *c, bool only_future) {
  timeval now;
  osip_gettimeofday(&now, nullptr);
  int64_t best = INT64_MAX;
  auto consider = [&](const timeval &tv) {
    if (tv.tv_sec == -1) return;
    int64_t us = (static_cast<int64_t>(tv.tv_sec) - now.tv_sec) * 1000000 + (tv.tv_usec - now.tv_usec);
    if (only_future && us <= 0) return;
    best = std::min(best, us);
  };
  int st = tr->state;
  switch (tr->ctx_type) {
    case ICT:
      if (st == ICT_CALLING) {
        consider(tr->ict_context->timer_a_start);
        consider(tr->ict_context->timer_b_start);
      }
      if (st == ICT_COMPLETED) consider(tr->ict_context->timer_d_start);
      break;
    case IST:
      if (st == IST_COMPLETED) {
        consider(tr->ist_context->timer_g_start);
        consider(tr->ist_context->timer_h_start);
      }
      if (st == IST_CONFIRMED) consider(tr->ist_context->timer_i_start);
      break;
    case NICT:
      if (st == NICT_TRYING || st == NICT_PROCEEDING) {
        consider(tr->nict_context->timer_e_start);
        consider(tr->nict_context->timer_f_start);
      }
      if (st == NICT_COMPLETED) consider(tr->nict_context->timer_k_start);
      break;
    case NIST:
      if (st == NIST_COMPLETED) consider(tr->nist_context->timer_j_start);
      break;
  }
  // osip2 fires a timer once the clock is past it: wake a millisecond later.
  Clock::time_point due{};
  if (best != INT64_MAX) due = Clock::now() + std::chrono::microseconds(std::max<int64_t>(best, 0) + 1000);
  if (due == c->due) return;
  c->due = due;
  if (due != Clock::time_point{}) g->timers.emplace(due, tr->transactionid);
}

// The transaction's timer event, in the order osip2's own timer passes test them.
osip_event_t *timer_event(osip_transaction_t *tr) {
  int id = tr->transactionid;
  auto st = static_cast<state_t>(tr->state);
  osip_event_t *e = nullptr;
  switch (tr->ctx_type) {
    case ICT:
      if (!(e = __osip_ict_need_timer_b_event(tr->ict_context, st, id)) &&
          !(e = __osip_ict_need_timer_a_event(tr->ict_context, st, id)))
        e = __osip_ict_need_timer_d_event(tr->ict_context, st, id);
      break;
    case IST:
      if (!(e = __osip_ist_need_timer_i_event(tr->ist_context, st, id)) &&
          !(e = __osip_ist_need_timer_h_event(tr->ist_context, st, id)))
        e = __osip_ist_need_timer_g_event(tr->ist_context, st, id);
      break;
    case NICT:
      if (!(e = __osip_nict_need_timer_k_event(tr->nict_context, st, id)) &&
          !(e = __osip_nict_need_timer_f_event(tr->nict_context, st, id)))
        e = __osip_nict_need_timer_e_event(tr->nict_context, st, id);
      break;
    case NIST:
      e = __osip_nist_need_timer_j_event(tr->nist_context, st, id);
      break;
  }
  return e;
}

// Once nothing up the stack holds their messages: what is left of answered transactions.
void settle() {
  for (int tid : g->answered) {
    osip_transaction_t *tr = find_tr(tid);
    if (tr && tr->ctx_type == NIST && tr->state == NIST_COMPLETED) end_answered(tr, ctx_of(tr));
  }
  g->answered.clear();
  free_garbage();
}

// Only the transactions whose timer is due, earliest first.
void fire_timers(Clock::time_point now) {
  while (!g->timers.empty() && g->timers.top().first <= now) {
    auto [due, tid] = g->timers.top();
    g->timers.pop();
    osip_transaction_t *tr = find_tr(tid);
    TrCtx *c = ctx_of(tr);
    if (!c || c->due != due) continue;  // ended or rescheduled since
    c->due = {};
    if (osip_event_t *e = timer_event(tr)) {
      osip_transaction_add_event(tr, e);
      mark_ready(tr);
    } else {
      schedule(tr, c, true);  // woken early, or the field belongs to a state left behind
    }
  }
  run_machines();
}

void handle_datagram(const char *buf, size_t len, const sockaddr_in &src) {
  g->rx_key.clear();
  if (len < 8) return;  // keep-alive CRLFs and runts
  osip_event_t *evt = osip_parse(buf, len);
  if (!evt) return;
  osip_message_t *m = evt->sip;
  if (!valid_message(m)) {
    EXO_LOG(OSIP_WARNING, "eXosip: incomplete SIP message from %s:%d dropped\n", inet_ntoa(src.sin_addr),
            ntohs(src.sin_port));
    if (m && MSG_IS_REQUEST(m) && m->sip_method && strcmp(m->sip_method, "ACK") != 0 && m->from && m->to &&
        m->call_id && m->cseq && osip_list_size(&m->vias) > 0) {
      char ip[INET_ADDRSTRLEN];
      inet_ntop(AF_INET, &src.sin_addr, ip, sizeof ip);
      osip_message_fix_last_via_header(m, ip, ntohs(src.sin_port));
      stateless_answer(m, 400);
    }
    osip_event_free(evt);
    return;
  }
  if (MSG_IS_REQUEST(m)) {
    char ip[INET_ADDRSTRLEN];
    inet_ntop(AF_INET, &src.sin_addr, ip, sizeof ip);
    osip_message_fix_last_via_header(m, ip, ntohs(src.sin_port));
  }
  std::string key = MSG_IS_REQUEST(m) ? server_key(m) : client_key(m);
  if (osip_transaction_t *tr = tr_by_key(key)) {
    hook_received(m, tr->transactionid);
    osip_transaction_add_event(tr, evt);
    mark_ready(tr);
    return;
  }
  if (MSG_IS_REQUEST(m)) {
    auto it = g->lingering.find(key);
    if (it != g->lingering.end()) {
      send_lingering(it->second);
      osip_event_free(evt);
      return;
    }
  }
  if (MSG_IS_RESPONSE(m)) {
    if (MSG_IS_STATUS_2XX(m) && strcmp(m->cseq->method, "INVITE") == 0) call_stray_2xx(m);
    osip_event_free(evt);
    return;
  }
  if (strcmp(m->sip_method, "ACK") == 0) {
    call_ack(m);
    osip_event_free(evt);
    return;
  }
  bool tagged = has_to_tag(m);
  if (g->trs.size() >= (tagged ? kMaxTransactions : kMaxNewTransactions)) {
    EXO_LOG(OSIP_WARNING, "eXosip: %zu transactions, %s answered 503 without state\n", g->trs.size(), m->sip_method);
    stateless_answer(m, 503);
    osip_event_free(evt);
    return;
  }
  g->rx_key = std::move(key);
  if (strcmp(m->sip_method, "CANCEL") == 0) {
    if (osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::Cancel})) call_cancel(tr, m);
    return;
  }
  if (tagged) {
    Dialog *d = match_incoming(m);
    if (d && d->kind == DlgKind::Call && call_in_dialog(d, evt)) return;
    if (d && d->kind != DlgKind::Call && sub_in_dialog(d, evt)) return;
    if (!d && strcmp(m->sip_method, "NOTIFY") == 0 && sub_notify_without_dialog(evt)) return;
    reject(evt, 481);
    return;
  }
  if (strcmp(m->sip_method, "INVITE") == 0) {
    call_incoming_request(evt);
  } else if (strcmp(m->sip_method, "SUBSCRIBE") == 0) {
    insub_new(evt);
  } else if (strcmp(m->sip_method, "BYE") == 0 || strcmp(m->sip_method, "PRACK") == 0 ||
             strcmp(m->sip_method, "UPDATE") == 0) {
    reject(evt, 481);
  } else {
    out_of_dialog_request(evt);
  }
}

// Requests that open nothing a call needs; under a flood they wait behind the rest and are
// the first dropped.
bool low_priority(const char *p, size_t n) {
  for (const char *m : {"OPTIONS ", "REGISTER ", "SUBSCRIBE ", "MESSAGE ", "PUBLISH "}) {
    size_t l = strlen(m);
    if (n >= l && memcmp(p, m, l) == 0) return true;
  }
  return false;
}

// Datagrams read per system call; a slot holds the largest UDP datagram.
constexpr int kRxBatch = 16;
constexpr size_t kRxSlot = 65536;

struct RxBatch {
  std::vector<char> buf = std::vector<char>(kRxBatch * kRxSlot);
  mmsghdr msgs[kRxBatch];
  iovec iov[kRxBatch];
  sockaddr_in src[kRxBatch];
};

void enqueue(const char *data, size_t n, const sockaddr_in &src) {
  bool low = low_priority(data, n);
  auto &q = low ? g->rx_low : g->rx;
  if (g->rx_bytes + n > kMaxRxBytes || (low && q.size() >= kMaxRxLow)) {
    ++g->rx_dropped;
    return;
  }
  q.push_back(Datagram{std::string(data, n), src});
  g->rx_bytes += n;
}

// Moves what the socket holds into Stack::rx and rx_low, without blocking and without the
// stack's lock: a datagram of a call read behind a flood of other requests overtakes them.
void drain_socket(RxBatch &b) {
  for (int round = 0; round < 16; ++round) {
    for (int i = 0; i < kRxBatch; ++i) {
      b.iov[i] = {b.buf.data() + i * kRxSlot, kRxSlot};
      b.msgs[i] = {};
      b.msgs[i].msg_hdr.msg_name = &b.src[i];
      b.msgs[i].msg_hdr.msg_namelen = sizeof b.src[i];
      b.msgs[i].msg_hdr.msg_iov = &b.iov[i];
      b.msgs[i].msg_hdr.msg_iovlen = 1;
    }
    int n = recvmmsg(g->fd, b.msgs, kRxBatch, MSG_DONTWAIT, nullptr);
    if (n <= 0) return;
    for (int i = 0; i < n; ++i)
      if (b.msgs[i].msg_len > 0) enqueue(static_cast<char *>(b.iov[i].iov_base), b.msgs[i].msg_len, b.src[i]);
    if (n < kRxBatch) return;
  }
}

// One turn of the stack under its lock. Events raised meanwhile wake the application when the
// batch of turns ends (wake_up): woken earlier, it would only block on the lock.
template <typename F>
void stack_turn(F f) {
  std::lock_guard<StackLock> lk(g->mtx);
  g->hold_wake = true;
  f();
}

// An event that asks nothing of the application (an ACK, an end of call) wakes it within
// kLazyWake, together with whatever comes meanwhile: a wake-up of a thread costs more than the
// work of most events.
constexpr Ms kLazyWake{10};

void wake_up() {
  bool wake;
  {
    std::lock_guard<StackLock> lk(g->mtx);
    g->hold_wake = false;
    wake = g->wake_pending ||
           (g->lazy_since != Clock::time_point{} && Clock::now() - g->lazy_since >= kLazyWake);
    g->wake_pending = false;
    if (wake) g->lazy_since = {};
  }
  if (!wake) return;
  {
    std::lock_guard<std::mutex> lk(g->qmtx);
    if (g->queue.empty() && g->queue_other.empty()) return;  // taken meanwhile
  }
  g->qcv.notify_all();
}

// Due timers of transactions and dialogs; then how long the stack's thread may wait.
int timer_pass(Clock::time_point &next_tick, unsigned long &dropped_logged) {
  auto now = Clock::now();
  fire_timers(now);
  expire_lingering(now);
  if (now >= next_tick) {  // the dialogs' own timers (2xx repeats, refreshes, expiries)
    next_tick = now + Ms(10);
    call_timers(now);
    sub_timers(now);
    run_machines();
    unsigned long dropped = g->rx_dropped;
    if (dropped != dropped_logged) {
      EXO_LOG(OSIP_WARNING, "eXosip: %lu datagrams dropped, the stack is behind\n", dropped - dropped_logged);
      dropped_logged = dropped;
    }
  }
  settle();
  // Rounded up: woken before the deadline, the pass would find nothing due and wait again.
  auto next = next_tick;
  if (!g->timers.empty()) next = std::min(next, g->timers.top().first);
  if (g->lazy_since != Clock::time_point{}) next = std::min(next, g->lazy_since + kLazyWake);
  auto us = std::chrono::duration_cast<std::chrono::microseconds>(next - Clock::now()).count();
  return static_cast<int>(std::clamp<int64_t>((us + 999) / 1000, 0, 10));
}

// The stack's thread receives itself: a datagram costs no hand-over between threads. It reads
// the socket outside the lock and takes the lock once per datagram, so that API calls get in
// between; the socket's buffer (SO_RCVBUF) holds what arrives while an API call has the lock.
void loop() {
  RxBatch batch;
  auto next_tick = Clock::now();
  unsigned long dropped_logged = 0;
  int wait_ms = 0;
  while (g->running) {
    if (g->rx.empty() && g->rx_low.empty()) {
      pollfd p{g->fd, POLLIN, 0};
      poll(&p, 1, wait_ms);
      drain_socket(batch);
    }
    int i = 0;
    do {
      if (i % 16 == 15) drain_socket(batch);
      Datagram d;
      auto &q = g->rx.empty() ? g->rx_low : g->rx;
      if (!q.empty()) {
        d = std::move(q.front());
        q.pop_front();
        g->rx_bytes -= d.data.size();
      }
      stack_turn([&] {
        if (!d.data.empty()) {
          handle_datagram(d.data.c_str(), d.data.size(), d.src);
          run_machines();
          settle();
        }
        wait_ms = timer_pass(next_tick, dropped_logged);
      });
    } while (++i < 64 && !(g->rx.empty() && g->rx_low.empty()));
    wake_up();
  }
}

}  // namespace

void inject_datagram(const char *buf, size_t len, const char *ip, int port) {
  sockaddr_in src{};
  src.sin_family = AF_INET;
  src.sin_port = htons(static_cast<uint16_t>(port));
  inet_pton(AF_INET, ip, &src.sin_addr);
  std::string copy(buf, len);  // the parser wants a terminated buffer
  std::lock_guard<StackLock> lk(g->mtx);
  handle_datagram(copy.data(), len, src);
  run_machines();
  settle();
}

std::string random_tag() {
  char b[16];
  snprintf(b, sizeof b, "%08x", static_cast<unsigned>(rng()()));
  return b;
}

std::string new_branch() {
  char b[40];
  snprintf(b, sizeof b, "z9hG4bK%08x%08x", static_cast<unsigned>(rng()()), static_cast<unsigned>(rng()()));
  return b;
}

std::string local_addr() { return g->ip_option.empty() ? g->local_ip : g->ip_option; }

void push_event(eXosip_event_t *ev) {
  // Read before the push: once queued, the application may take and free the event.
  const bool call = ev->type >= EXOSIP_CALL_INVITE && ev->type <= EXOSIP_CALL_RELEASED;
  const bool lazy = ev->type == EXOSIP_CALL_ACK || ev->type == EXOSIP_CALL_CLOSED || ev->type == EXOSIP_CALL_RELEASED;
  {
    std::lock_guard<std::mutex> lk(g->qmtx);
    (call ? g->queue : g->queue_other).push_back(ev);
  }
  if (!g->hold_wake)
    g->qcv.notify_all();
  else if (!lazy)
    g->wake_pending = true;
  else if (g->lazy_since == Clock::time_point{})
    g->lazy_since = Clock::now();
}

bool other_queue_full() {
  std::lock_guard<std::mutex> lk(g->qmtx);
  return g->queue_other.size() >= kMaxOtherEvents;
}

bool queue_full() {
  std::lock_guard<std::mutex> lk(g->qmtx);
  return g->queue.size() + g->queue_other.size() >= kMaxQueuedEvents;
}

eXosip_event_t *new_event(eXosip_event_type_t type, int cid, int did, int tid, const osip_message_t *req,
                          const osip_message_t *resp) {
  auto *ev = static_cast<eXosip_event_t *>(calloc(1, sizeof(eXosip_event_t)));
  ev->type = type;
  ev->cid = cid;
  ev->did = did;
  ev->tid = tid;
  if (req) osip_message_clone(req, &ev->request);
  if (resp) {
    osip_message_clone(resp, &ev->response);
    snprintf(ev->textinfo, sizeof ev->textinfo, "%d %s", resp->status_code,
             resp->reason_phrase ? resp->reason_phrase : "");
  } else if (req && req->sip_method) {
    snprintf(ev->textinfo, sizeof ev->textinfo, "%s received", req->sip_method);
  }
  if (Call *c = find_call(cid)) ev->external_reference = c->external_reference;
  return ev;
}

int send_text(const char *text, size_t len, const std::string &host, int port) {
  sockaddr_in dst{};
  dst.sin_family = AF_INET;
  dst.sin_port = htons(static_cast<uint16_t>(port > 0 ? port : 5060));
  // Peers are configured by address: a name would be a blocking look-up under the stack's lock.
  if (inet_pton(AF_INET, host.c_str(), &dst.sin_addr) != 1) {
    EXO_LOG(OSIP_ERROR, "eXosip: %s is not an IPv4 address, nothing sent\n", host.c_str());
    return -1;
  }
  ssize_t n = sendto(g->fd, text, len, 0, reinterpret_cast<sockaddr *>(&dst), sizeof dst);
  if (n == static_cast<ssize_t>(len)) return 0;
  EXO_LOG(OSIP_ERROR, "eXosip: cannot send %zu bytes to %s:%d (%s)\n", len, host.c_str(), port, strerror(errno));
  return -1;
}

int send_raw(osip_message_t *msg, const std::string &host, int port, int tid, std::string *keep) {
  if (g->hook) g->hook(msg, tid);
  char *text = nullptr;
  size_t len = 0;
  if (osip_message_to_str(msg, &text, &len) != 0 || !text) return -1;
  int r = send_text(text, len, host, port);
  if (keep && r == 0) keep->assign(text, len);
  osip_free(text);
  return r;
}

void hook_received(osip_message_t *msg, int tid) {
  if (g->hook && tid > 0) g->hook(msg, -tid);
}

void next_hop(const osip_message_t *req, std::string &host, int &port) {
  const osip_uri_t *u = req->req_uri;
  osip_route_t *r = nullptr;
  if (osip_message_get_route(req, 0, &r) >= 0 && r && r->url) u = r->url;
  host = (u && u->host) ? u->host : "";
  port = (u && u->port) ? atoi(u->port) : 5060;
  if (port <= 0 || port > 65535) port = 5060;
}

void via_dest(const osip_message_t *resp, std::string &host, int &port) {
  osip_via_t *via = static_cast<osip_via_t *>(osip_list_get(&resp->vias, 0));
  host.clear();
  port = 5060;
  if (!via) return;
  osip_generic_param_t *p = nullptr;
  host = via->host ? via->host : "";
  if (osip_via_param_get_byname(via, const_cast<char *>("received"), &p) == 0 && p && p->gvalue) host = p->gvalue;
  if (via->port) port = atoi(via->port);
  if (osip_via_param_get_byname(via, const_cast<char *>("rport"), &p) == 0 && p && p->gvalue) port = atoi(p->gvalue);
  if (port <= 0 || port > 65535) port = 5060;
}

osip_transaction_t *start_client(osip_message_t *req, osip_fsm_type_t type, const TrCtx &ctx) {
  osip_transaction_t *tr = nullptr;
  if (osip_transaction_init(&tr, type, g->osip, req) != 0 || !tr) {
    osip_message_free(req);
    return nullptr;
  }
  std::string host;
  int port;
  next_hop(req, host, port);
  if (type == ICT)
    osip_ict_set_destination(tr->ict_context, osip_strdup(host.c_str()), port);
  else
    osip_nict_set_destination(tr->nict_context, osip_strdup(host.c_str()), port);
  auto *c = new TrCtx(ctx);
  osip_transaction_set_reserved1(tr, c);
  g->trs[tr->transactionid] = tr;
  index_tr(tr, c, client_key(req));
  if (ctx.did) {
    if (Dialog *d = find_dialog(ctx.did)) d->out_trs.insert(tr->transactionid);
  }
  osip_event_t *evt = osip_new_outgoing_sipmessage(req);
  evt->transactionid = tr->transactionid;
  osip_transaction_add_event(tr, evt);
  mark_ready(tr);
  return tr;
}

osip_transaction_t *server_tr(osip_event_t *evt, const TrCtx &ctx) {
  osip_transaction_t *tr = osip_create_transaction(g->osip, evt);
  if (!tr) {
    osip_event_free(evt);
    return nullptr;
  }
  auto *c = new TrCtx(ctx);
  osip_transaction_set_reserved1(tr, c);
  g->trs[tr->transactionid] = tr;
  index_tr(tr, c, g->rx_key.empty() ? server_key(evt->sip) : std::move(g->rx_key));
  g->rx_key.clear();
  if (Dialog *d = find_dialog(ctx.did)) d->inc_trs.insert(tr->transactionid);
  hook_received(evt->sip, tr->transactionid);
  osip_transaction_add_event(tr, evt);
  mark_ready(tr);
  return tr;
}

bool server_open(const osip_transaction_t *tr) {
  if (!tr) return false;
  if (tr->ctx_type == IST) return tr->state == IST_PRE_PROCEEDING || tr->state == IST_PROCEEDING;
  if (tr->ctx_type == NIST)
    return tr->state == NIST_PRE_TRYING || tr->state == NIST_TRYING || tr->state == NIST_PROCEEDING;
  return false;
}

void reject(osip_event_t *evt, int status) {
  osip_message_t *m = evt->sip;
  if (osip_transaction_t *tr = server_tr(evt, TrCtx{TrKind::Stray})) answer_server(tr, build_response(m, status, nullptr, false));
}

void answer_server(osip_transaction_t *tr, osip_message_t *resp) {
  if (!resp) return;
  osip_event_t *evt = osip_new_outgoing_sipmessage(resp);
  evt->transactionid = tr->transactionid;
  osip_transaction_add_event(tr, evt);
  mark_ready(tr);
}

void stateless_answer(osip_message_t *req, int status) {
  osip_message_t *r = build_response(req, status, nullptr, false);
  if (!r) return;
  std::string host;
  int port;
  via_dest(r, host, port);
  send_raw(r, host, port, 0);
  osip_message_free(r);
}

osip_transaction_t *invite_of_cancel(const osip_message_t *cancel) { return tr_by_key(server_key(cancel, "INVITE")); }

osip_transaction_t *find_tr(int tid) {
  auto it = g->trs.find(tid);
  return it == g->trs.end() ? nullptr : it->second;
}

TrCtx *ctx_of(osip_transaction_t *tr) { return tr ? static_cast<TrCtx *>(osip_transaction_get_reserved1(tr)) : nullptr; }

void tr_done(osip_transaction_t *tr) {
  int tid = tr->transactionid;
  if (g->trs.erase(tid) == 0) return;  // already collected
  if (TrCtx *c = ctx_of(tr)) {
    auto it = g->tr_index.find(c->key);
    if (it != g->tr_index.end() && it->second == tid) g->tr_index.erase(it);
    if (Dialog *d = find_dialog(c->did)) {
      d->inc_trs.erase(tid);
      d->out_trs.erase(tid);
    }
    if (Call *call = find_call(c->cid)) {
      if (call->inc_tid == tid) call->inc_tid = 0;
      if (call->out_tid == tid) call->out_tid = 0;
    }
  }
  g->garbage.push_back(tr);
}

void mark_ready(osip_transaction_t *tr) {
  TrCtx *c = ctx_of(tr);
  if (!c || c->ready) return;
  c->ready = true;
  g->ready.push_back(tr->transactionid);
}

// Executes the events of the transactions that got some, and only those; then each one's
// next timer. Transactions ended meanwhile are freed once no call-back can reach them.
void run_machines() {
  if (g->in_exec) return;
  g->in_exec = true;
  while (!g->ready.empty()) {
    int tid = g->ready.front();
    g->ready.pop_front();
    osip_transaction_t *tr = find_tr(tid);
    TrCtx *c = ctx_of(tr);
    if (!c) continue;
    c->ready = false;
    while (osip_event_t *e = static_cast<osip_event_t *>(osip_fifo_tryget(tr->transactionff))) {
      osip_transaction_execute(tr, e);
      if (!find_tr(tid)) break;  // ended: its remaining events go with it
    }
    if (!find_tr(tid) || c->ready) continue;
    if (tr->ctx_type == NIST && tr->state == NIST_COMPLETED)
      g->answered.push_back(tid);  // callers up the stack may still hold its request
    else
      schedule(tr, c, false);
  }
  g->in_exec = false;
  free_garbage();
}

std::string call_id_of(const osip_call_id_t *cid) {
  if (!cid || !cid->number) return "";
  std::string s = cid->number;
  if (cid->host) {
    s += '@';
    s += cid->host;
  }
  return s;
}

void StackLock::lock() {
  std::unique_lock<std::mutex> lk(m_);
  auto me = std::this_thread::get_id();
  if (depth_ > 0 && owner_ == me) {
    ++depth_;
    return;
  }
  uint64_t ticket = next_++;
  cv_.wait(lk, [&] { return depth_ == 0 && serving_ == ticket; });
  owner_ = me;
  depth_ = 1;
}

void StackLock::unlock() {
  {
    std::lock_guard<std::mutex> lk(m_);
    if (--depth_ > 0) return;
    owner_ = std::thread::id();
    ++serving_;
  }
  cv_.notify_all();  // outside m_: a waiter woken would block on it at once
}

std::string header_value(const osip_message_t *msg, const char *name) {
  osip_header_t *h = nullptr;
  if (msg && osip_message_header_get_byname(msg, name, 0, &h) >= 0 && h && h->hvalue) return h->hvalue;
  return "";
}

void drop_headers(osip_message_t *m, const char *name, bool keep_last) {
  for (int i = osip_list_size(&m->headers) - 1; i >= 0; --i) {
    osip_header_t *h = static_cast<osip_header_t *>(osip_list_get(&m->headers, i));
    if (h && h->hname && osip_strcasecmp(h->hname, name) == 0) {
      if (keep_last) {
        keep_last = false;
        continue;
      }
      osip_list_remove(&m->headers, i);
      osip_header_free(h);
      m->message_property = 2;
    }
  }
}

std::string body_of_type(const osip_message_t *msg, const char *type, const char *subtype) {
  if (!msg) return "";
  const osip_content_type_t *ct = msg->content_type;
  if (ct && ct->type && ct->subtype && osip_strcasecmp(ct->type, type) == 0 &&
      osip_strcasecmp(ct->subtype, subtype) == 0) {
    osip_body_t *b = static_cast<osip_body_t *>(osip_list_get(&msg->bodies, 0));
    if (b && b->body) return std::string(b->body, b->length);
  }
  return "";
}

void set_via(osip_message_t *msg) {
  char v[256];
  snprintf(v, sizeof v, "SIP/2.0/UDP %s:%d;rport;branch=%s", local_addr().c_str(), g->port, new_branch().c_str());
  osip_message_set_via(msg, v);
}

void set_contact(osip_message_t *msg, const osip_uri_t *user_uri) {
  char v[320];
  if (user_uri && user_uri->username && *user_uri->username)
    snprintf(v, sizeof v, "<sip:%s@%s:%d>", user_uri->username, local_addr().c_str(), g->port);
  else
    snprintf(v, sizeof v, "<sip:%s:%d>", local_addr().c_str(), g->port);
  osip_message_set_contact(msg, v);
}

osip_message_t *build_response(const osip_message_t *req, int status, const char *to_tag, bool contact) {
  osip_message_t *r = nullptr;
  if (!req || osip_message_init(&r) != 0) return nullptr;
  osip_message_set_version(r, osip_strdup("SIP/2.0"));
  osip_message_set_status_code(r, status);
  const char *reason = osip_message_get_reason(status);
  osip_message_set_reason_phrase(r, osip_strdup(reason ? reason : "Unknown"));
  osip_list_clone(&req->vias, &r->vias, reinterpret_cast<int (*)(void *, void **)>(&osip_via_clone));
  if (req->from) osip_from_clone(req->from, &r->from);
  if (req->to) osip_to_clone(req->to, &r->to);
  if (req->call_id) osip_call_id_clone(req->call_id, &r->call_id);
  if (req->cseq) osip_cseq_clone(req->cseq, &r->cseq);
  if (status > 100 && r->to) {
    osip_generic_param_t *tag = nullptr;
    if (osip_to_get_tag(r->to, &tag) != 0)
      osip_to_set_tag(r->to, osip_strdup(to_tag ? to_tag : random_tag().c_str()));
  }
  if (status > 100 && status < 300 && req->sip_method &&
      (strcmp(req->sip_method, "INVITE") == 0 || strcmp(req->sip_method, "SUBSCRIBE") == 0))
    osip_list_clone(&req->record_routes, &r->record_routes,
                    reinterpret_cast<int (*)(void *, void **)>(&osip_record_route_clone));
  if (contact) set_contact(r, req->req_uri);
  osip_message_set_header(r, "User-Agent", g->user_agent.c_str());
  return r;
}

int build_request(osip_message_t **out, const char *method, const char *to, const char *from, const char *route) {
  if (!out) return -2;
  *out = nullptr;
  if (!g || !to || !from || !*to || !*from) return -2;
  osip_message_t *m = nullptr;
  if (osip_message_init(&m) != 0) return -1;
  osip_message_set_method(m, osip_strdup(method));
  osip_message_set_version(m, osip_strdup("SIP/2.0"));
  if (osip_message_set_to(m, to) != 0 || !m->to || !m->to->url || !m->to->url->host ||
      osip_message_set_from(m, from) != 0 || !m->from || !m->from->url) {
    osip_message_free(m);
    return -2;
  }
  osip_from_set_tag(m->from, osip_strdup(random_tag().c_str()));
  osip_uri_t *ru = nullptr;
  osip_uri_clone(m->to->url, &ru);
  osip_message_set_uri(m, ru);
  if (route && *route && osip_message_set_route(m, route) != 0) {
    osip_message_free(m);
    return -2;
  }
  std::string cid = random_tag() + random_tag() + "@" + local_addr();
  osip_message_set_call_id(m, cid.c_str());
  std::string cseq = std::string("20 ") + method;
  osip_message_set_cseq(m, cseq.c_str());
  set_via(m);
  osip_message_set_header(m, "Max-Forwards", "70");
  if (strcmp(method, "INVITE") == 0 || strcmp(method, "SUBSCRIBE") == 0 || strcmp(method, "REFER") == 0)
    set_contact(m, m->from->url);
  osip_message_set_header(m, "User-Agent", g->user_agent.c_str());
  *out = m;
  return 0;
}

osip_message_t *build_in_dialog(Dialog *d, const char *method) {
  if (!d || !d->od) return nullptr;
  osip_dialog_t *od = d->od;
  osip_message_t *m = nullptr;
  if (osip_message_init(&m) != 0) return nullptr;
  osip_message_set_method(m, osip_strdup(method));
  osip_message_set_version(m, osip_strdup("SIP/2.0"));
  osip_uri_t *ru = nullptr;
  if (od->remote_contact_uri && od->remote_contact_uri->url)
    osip_uri_clone(od->remote_contact_uri->url, &ru);
  else if (od->remote_uri && od->remote_uri->url)
    osip_uri_clone(od->remote_uri->url, &ru);
  if (!ru) {
    osip_message_free(m);
    return nullptr;
  }
  osip_message_set_uri(m, ru);
  osip_list_clone(&od->route_set, &m->routes, reinterpret_cast<int (*)(void *, void **)>(&osip_from_clone));
  osip_from_clone(od->local_uri, &m->from);
  osip_to_clone(od->remote_uri, &m->to);
  osip_generic_param_t *tag = nullptr;
  if (m->from && osip_from_get_tag(m->from, &tag) != 0 && od->local_tag)
    osip_from_set_tag(m->from, osip_strdup(od->local_tag));
  if (m->to && osip_to_get_tag(m->to, &tag) != 0 && od->remote_tag)
    osip_to_set_tag(m->to, osip_strdup(od->remote_tag));
  osip_message_set_call_id(m, od->call_id);
  int n;
  if (strcmp(method, "ACK") == 0) {
    n = d->invite_cseq;
  } else {
    n = ++od->local_cseq;
  }
  char cseq[64];
  snprintf(cseq, sizeof cseq, "%d %s", n, method);
  osip_message_set_cseq(m, cseq);
  set_via(m);
  osip_message_set_header(m, "Max-Forwards", "70");
  if (strcmp(method, "INVITE") == 0 || strcmp(method, "UPDATE") == 0 || strcmp(method, "SUBSCRIBE") == 0 ||
      strcmp(method, "NOTIFY") == 0 || strcmp(method, "REFER") == 0)
    set_contact(m, m->from ? m->from->url : nullptr);
  osip_message_set_header(m, "User-Agent", g->user_agent.c_str());
  return m;
}

Dialog *find_dialog(int did) {
  if (!g || did <= 0) return nullptr;
  auto it = g->dialogs.find(did);
  return it == g->dialogs.end() ? nullptr : it->second.get();
}

Call *find_call(int cid) {
  if (!g || cid <= 0) return nullptr;
  auto it = g->calls.find(cid);
  return it == g->calls.end() ? nullptr : it->second.get();
}

Dialog *new_dialog(DlgKind kind, int cid, osip_dialog_t *od) {
  auto d = std::make_unique<Dialog>();
  d->d_id = g->next_did++;
  d->d_STATE = 0;
  d->kind = kind;
  d->cid = cid;
  d->od = od;
  Dialog *p = d.get();
  if (od && od->call_id) g->dialogs_by_callid.emplace(od->call_id, p->d_id);
  g->n_insubs += kind == DlgKind::InSub;
  g->dialogs[p->d_id] = std::move(d);
  return p;
}

void free_dialog(int did) {
  auto it = g->dialogs.find(did);
  if (it == g->dialogs.end()) return;
  Dialog *d = it->second.get();
  if (d->od && d->od->call_id) {
    auto range = g->dialogs_by_callid.equal_range(d->od->call_id);
    for (auto i = range.first; i != range.second; ++i)
      if (i->second == did) {
        g->dialogs_by_callid.erase(i);
        break;
      }
  }
  g->n_insubs -= d->kind == DlgKind::InSub;
  if (d->od) osip_dialog_free(d->od);
  if (d->resp2xx) osip_message_free(d->resp2xx);
  if (d->ack) osip_message_free(d->ack);
  g->dialogs.erase(it);
}

}  // namespace exo

using namespace exo;

int eXosip_init(void) {
  if (g) return 0;
  g = new Stack();
  osip_set_allocators(osip_block_alloc, realloc, osip_block_free);
  if (osip_init(&g->osip) != 0) {
    delete g;
    g = nullptr;
    return -1;
  }
  osip_set_cb_send_message(g->osip, cb_send);
  for (int t : {OSIP_ICT_STATUS_1XX_RECEIVED, OSIP_ICT_STATUS_2XX_RECEIVED, OSIP_ICT_STATUS_2XX_RECEIVED_AGAIN,
                OSIP_ICT_STATUS_3XX_RECEIVED, OSIP_ICT_STATUS_4XX_RECEIVED, OSIP_ICT_STATUS_5XX_RECEIVED,
                OSIP_ICT_STATUS_6XX_RECEIVED, OSIP_ICT_STATUS_TIMEOUT})
    osip_set_message_callback(g->osip, t, cb_ict);
  for (int t : {OSIP_NICT_STATUS_1XX_RECEIVED, OSIP_NICT_STATUS_2XX_RECEIVED, OSIP_NICT_STATUS_3XX_RECEIVED,
                OSIP_NICT_STATUS_4XX_RECEIVED, OSIP_NICT_STATUS_5XX_RECEIVED, OSIP_NICT_STATUS_6XX_RECEIVED,
                OSIP_NICT_STATUS_TIMEOUT})
    osip_set_message_callback(g->osip, t, cb_nict);
  osip_set_message_callback(g->osip, OSIP_IST_ACK_RECEIVED, cb_ist_ack);
  for (int t : {OSIP_ICT_KILL_TRANSACTION, OSIP_IST_KILL_TRANSACTION, OSIP_NICT_KILL_TRANSACTION,
                OSIP_NIST_KILL_TRANSACTION})
    osip_set_kill_transaction_callback(g->osip, t, cb_kill);
  for (int t : {OSIP_ICT_TRANSPORT_ERROR, OSIP_IST_TRANSPORT_ERROR, OSIP_NICT_TRANSPORT_ERROR,
                OSIP_NIST_TRANSPORT_ERROR})
    osip_set_transport_error_callback(g->osip, t, cb_transport_error);
  char ip[64];
  eXosip_guess_localip(AF_INET, ip, sizeof ip);
  g->local_ip = ip;
  return 0;
}

void eXosip_quit(void) {
  if (!g) return;
  g->running = false;
  if (g->thread.joinable()) g->thread.join();
  {
    std::lock_guard<StackLock> lk(g->mtx);
    calls_clear();
    subs_clear();
    for (auto &[tid, tr] : g->trs) g->garbage.push_back(tr);
    g->trs.clear();
    g->tr_index.clear();
    g->ready.clear();
    g->lingering.clear();
    free_garbage();
    while (!g->dialogs.empty()) free_dialog(g->dialogs.begin()->first);
    for (auto &[rid, r] : g->regs)
      if (r.challenge) osip_message_free(r.challenge);
    g->regs.clear();
    for (auto *q : {&g->queue, &g->queue_other}) {
      for (eXosip_event_t *ev : *q) eXosip_event_free(ev);
      q->clear();
    }
    osip_release(g->osip);
    if (g->fd >= 0) close(g->fd);
  }
  delete g;
  g = nullptr;
}

int eXosip_listen_addr(int transport, const char *addr, int port, int family, int) {
  if (!g || transport != IPPROTO_UDP || family != AF_INET || g->fd >= 0) return -1;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return -1;
  // No SO_REUSEADDR: a port another stack already holds must make the listen fail.
  int rcv = 4 << 20;
  if (setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &rcv, sizeof rcv) != 0)  // beyond rmem_max, when allowed
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &rcv, sizeof rcv);
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<uint16_t>(port));
  if (addr && *addr && inet_pton(AF_INET, addr, &sa.sin_addr) != 1) {
    close(fd);
    return -1;
  }
  if (bind(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) != 0) {
    EXO_LOG(OSIP_ERROR, "eXosip: cannot listen on UDP port %d (%s)\n", port, strerror(errno));
    close(fd);
    return -1;
  }
  socklen_t sl = sizeof sa;
  getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &sl);
  g->fd = fd;
  g->port = ntohs(sa.sin_port);
  g->running = true;
  g->thread = std::thread(loop);
  return 0;
}

void eXosip_set_user_agent(const char *user_agent) {
  if (!g || !user_agent) return;
  std::lock_guard<StackLock> lk(g->mtx);
  g->user_agent = user_agent;
}

int eXosip_set_option(int opt, const void *value) {
  if (!g) return -1;
  std::lock_guard<StackLock> lk(g->mtx);
  switch (opt) {
    case EXOSIP_OPT_SET_IPV4_FOR_GATEWAY: {
      const char *ip = static_cast<const char *>(value);
      in_addr a;
      if (!ip || inet_pton(AF_INET, ip, &a) != 1) return -1;
      g->ip_option = ip;
      return 0;
    }
    case EXOSIP_OPT_DONT_SEND_101:
      return 0;  // 101 is never sent
    default:
      return -1;
  }
}

int eXosip_guess_localip(int family, char *address, int size) {
  if (!address || size <= 0) return -1;
  if (g && !g->ip_option.empty()) {
    snprintf(address, size, "%s", g->ip_option.c_str());
    return 0;
  }
  snprintf(address, size, "127.0.0.1");
  if (family != AF_INET) return -1;
  int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return 0;
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(5060);
  inet_pton(AF_INET, "192.0.2.1", &sa.sin_addr);  // no datagram leaves: connect only picks the route
  if (connect(fd, reinterpret_cast<sockaddr *>(&sa), sizeof sa) == 0) {
    socklen_t sl = sizeof sa;
    if (getsockname(fd, reinterpret_cast<sockaddr *>(&sa), &sl) == 0 && sa.sin_addr.s_addr != 0)
      inet_ntop(AF_INET, &sa.sin_addr, address, size);
  }
  close(fd);
  return 0;
}

void eXosip_lock(void) {
  if (g) g->mtx.lock();
}

void eXosip_unlock(void) {
  if (g) g->mtx.unlock();
}

void eXosip_set_cbsip_message(eXosip_cbsip_message_t cb) {
  if (!g) return;
  std::lock_guard<StackLock> lk(g->mtx);
  g->hook = cb;
}

eXosip_event_t *eXosip_event_wait(int tv_s, int tv_ms) {
  if (!g) return nullptr;
  std::unique_lock<std::mutex> lk(g->qmtx);
  g->qcv.wait_for(lk, std::chrono::seconds(tv_s) + Ms(tv_ms),
                  [] { return !g->queue.empty() || !g->queue_other.empty(); });
  auto &q = g->queue.empty() ? g->queue_other : g->queue;
  if (q.empty()) return nullptr;
  eXosip_event_t *ev = q.front();
  q.pop_front();
  return ev;
}

eXosip_event_t *eXosip_event_get(void) { return eXosip_event_wait(0, 0); }

void eXosip_event_free(eXosip_event_t *je) {
  if (!je) return;
  if (je->request) osip_message_free(je->request);
  if (je->response) osip_message_free(je->response);
  if (je->ack) osip_message_free(je->ack);
  free(je);
}
