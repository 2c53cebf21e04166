// Internal state of the SIP stack layer; every member is guarded by Stack::mtx.
#ifndef EXOSIP_INTERNAL_H
#define EXOSIP_INTERNAL_H

#include <eXosip2/eXosip.h>

#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <queue>
#include <thread>
#include <unordered_map>
#include <vector>

namespace exo {

using Clock = std::chrono::steady_clock;
using Ms = std::chrono::milliseconds;

// What a transaction belongs to; owned by the transaction (reserved1).
enum class TrKind { Invite, InDialog, OutOfDialog, Register, Subscribe, InSubscribe, Notify, Cancel, Stray };
struct TrCtx {
  explicit TrCtx(TrKind k, int c = 0, int d = 0, int i = 0) : kind(k), cid(c), did(d), id(i) {}
  TrKind kind;
  int cid;
  int did;
  int id;  // rid, sid or nid
  // The layer drives the transaction itself: its key in Stack::tr_index, whether it waits in
  // Stack::ready, and its next timer (zero: none).
  std::string key;
  bool ready = false;
  Clock::time_point due{};
  // A server transaction's final answer as sent, kept when it ends (Stack::lingering).
  std::string final_text, final_host;
  int final_port = 0;
};

// What is left of a non-INVITE server transaction after its final answer: the bytes to send
// again for a retransmitted request until timer J.
struct Linger {
  std::string text, host;
  int port = 0;
};

// Recursive lock handed out in arrival order: the stack's thread takes it once per datagram,
// so an API call waits for at most one datagram, however many arrive.
class StackLock {
 public:
  void lock();
  void unlock();

 private:
  std::mutex m_;  // guards the members below
  std::condition_variable cv_;
  std::thread::id owner_;
  int depth_ = 0;
  uint64_t next_ = 0, serving_ = 0;
};

enum class DlgKind { Call, OutSub, InSub };

struct Dialog : eXosip_dialog_t {
  DlgKind kind = DlgKind::Call;
  int cid = 0;
  int id = 0;  // sid or nid
  osip_dialog_t *od = nullptr;
  std::set<int> inc_trs, out_trs;
  std::string local_sdp, remote_sdp;
  // UAS: our 2xx to an INVITE, retransmitted until its ACK (RFC 3261 13.3.1.4)
  osip_message_t *resp2xx = nullptr;
  int resp2xx_tid = 0;
  int resp2xx_cseq = 0;
  Clock::time_point next2xx, end2xx;
  int interval2xx = 0;
  int acked_cseq = 0;
  // UAC: the ACK sent for the last 2xx, re-sent for each retransmitted 2xx
  osip_message_t *ack = nullptr;
  int ack_cseq = 0;
  Clock::time_point last_reack;  // repeated ACKs are spaced so that a peer echoing them cannot loop
  bool reacked = false;
  int invite_tid = 0;     // INVITE transaction whose 2xx this dialog waits to ACK
  int invite_cseq = 0;
  int last_rseq = 0;      // reliable provisional responses (RFC 3262)
  int rseq_cseq = 0;
  // Session timer (RFC 4028) when this side is the refresher
  int64_t se_interval = 0;  // seconds
  Clock::time_point next_refresh;
  // Subscriptions
  std::string event;
  int expires = 0;
  Clock::time_point expiry;
  int ss_status = EXOSIP_SUBCRSTATE_PENDING;
  int ss_reason = 0;
  bool closing = false;   // terminated NOTIFY sent
};

struct Call : eXosip_call_t {
  int inc_tid = 0;  // incoming INVITE transaction
  int out_tid = 0;  // outgoing INVITE transaction
  std::vector<int> dids;
  bool outgoing = false;
  bool answered = false;    // a final 2xx was sent or received
  bool final_sent = false;  // incoming INVITE got its final answer
  bool ended = false;       // CALL_RELEASED raised
  bool cancelling = false;
  bool got_provisional = false;
  int bye_tid = 0;
  // When the incoming INVITE gets a 100 if the application has not answered it by then.
  Clock::time_point trying_at{};
  // 401/407/422 to our INVITE: eXosip_default_action may send it again (before the deadline)
  osip_message_t *retry_resp = nullptr;
  int retry_tid = 0;
  int retries = 0;
  Clock::time_point retry_deadline;
  // 422/491 to our re-INVITE or UPDATE: eXosip_default_action sends a copy of it again, with
  // the peer's Min-SE (422) or after the RFC 3261 14.1 delay (491); forgotten at the deadline.
  osip_message_t *redo_req = nullptr;
  int redo_status = 0, redo_tid = 0, redo_did = 0, redos = 0;
  std::string redo_min_se;
  Clock::time_point redo_deadline, redo_at;  // redo_at zero: default action not asked yet
};

struct Registration {
  int rid = 0;
  std::string from, proxy, contact, call_id, from_tag;
  int cseq = 0;
  int expires = 0;
  osip_message_t *challenge = nullptr;  // last 401/407
  std::string sent_contact;
  Clock::time_point refresh_at;  // zero: no refresh due (not registered, or one is on its way)
};

struct OutSubscription {
  int sid = 0;
  int did = 0;
  std::string call_id, from_tag, event;
  int expires = 0;
  osip_message_t *initial = nullptr;  // copy of the SUBSCRIBE, to build the dialog from a NOTIFY
  Clock::time_point refresh_at;
  bool refresh_pending = false;
  // 401/407: eXosip_default_action sends this copy again with credentials, before the deadline.
  osip_message_t *retry_req = nullptr, *retry_resp = nullptr;
  int retry_tid = 0, retries = 0;
  Clock::time_point retry_deadline;
};

struct Credential {
  std::string username, userid, passwd, ha1, realm;
};

struct Datagram {
  std::string data;
  sockaddr_in src{};
};

struct Stack {
  StackLock mtx;
  osip_t *osip = nullptr;
  int fd = -1;
  int port = 5060;
  std::string user_agent = "eXosip2-layer";
  std::string ip_option;  // EXOSIP_OPT_SET_IPV4_FOR_GATEWAY
  std::string local_ip;
  eXosip_cbsip_message_t hook = nullptr;
  std::thread thread;
  // Datagrams received and not yet handled: the stack thread's own, read without the lock.
  std::deque<Datagram> rx, rx_low;
  size_t rx_bytes = 0;
  unsigned long rx_dropped = 0;
  std::atomic<bool> running{false};
  bool in_exec = false;
  // While the stack's thread holds the lock, events raised wake the application after it;
  // lazy_since: the first event not yet woken for that asks nothing of the application.
  bool hold_wake = false, wake_pending = false;
  Clock::time_point lazy_since{};
  std::string rx_key;  // key of the request being handled, for the server transaction it opens

  std::map<int, std::unique_ptr<Call>> calls;
  std::map<int, std::unique_ptr<Dialog>> dialogs;
  std::unordered_map<int, osip_transaction_t *> trs;
  // Transactions by branch, method and side (RFC 3261 17.1.3, 17.2.3); osip2's own lists stay
  // empty, so that it never walks them.
  std::unordered_map<std::string, int> tr_index;
  std::deque<int> ready;     // transactions holding events to execute
  std::vector<int> answered;  // non-INVITE server transactions that sent their final answer
  using Due = std::pair<Clock::time_point, int>;
  std::priority_queue<Due, std::vector<Due>, std::greater<Due>> timers;  // stale entries skipped
  std::unordered_map<std::string, Linger> lingering;
  std::deque<std::pair<Clock::time_point, std::string>> linger_order;  // oldest first
  size_t linger_bytes = 0;
  std::unordered_multimap<std::string, int> dialogs_by_callid;
  size_t n_insubs = 0;
  std::map<int, Registration> regs;
  std::map<int, OutSubscription> outsubs;
  std::vector<Credential> creds;
  std::vector<osip_transaction_t *> garbage;
  int next_cid = 1, next_did = 1, next_rid = 1, next_sid = 1, next_nid = 1;

  std::mutex qmtx;  // guards the event queues only
  std::condition_variable qcv;
  // Events of calls are handed out first: a flood of other requests waits behind them, and is
  // refused sooner (kMaxOtherEvents).
  std::deque<eXosip_event_t *> queue, queue_other;
};

// Limits that keep a flood of requests from growing memory without bound.
constexpr size_t kMaxCalls = 512;
// A live transaction holds two parsed messages (up to 20 kB): 4096 of them, about 80 MB. New
// requests outside dialogs stop short of it, so that calls in progress still get theirs.
constexpr size_t kMaxTransactions = 4096;
constexpr size_t kMaxNewTransactions = kMaxTransactions - 512;
// Answers kept for retransmissions after their transaction ended (oldest dropped first).
constexpr size_t kMaxLingeringBytes = 16u << 20;
constexpr size_t kMaxQueuedEvents = 4096;
constexpr size_t kMaxOtherEvents = 1024;
// Datagrams received and not yet handled: 8 MB, of which at most 2048 low-priority requests.
constexpr size_t kMaxRxBytes = 8u << 20;
constexpr size_t kMaxRxLow = 2048;
constexpr size_t kMaxInSubscriptions = 512;
// The longest subscription granted (RFC 6665 4.2.1.1: the notifier may shorten it): a peer's
// Expires of years would hold the subscription tables for good.
constexpr int kMaxSubscriptionSeconds = 3600;
constexpr int kT1 = 500, kT2 = 4000;
constexpr int64_t kMaxDeltaSeconds = 4294967295LL;

extern Stack *g;

// Through osip2's trace, which the application routes into its log.
#define EXO_LOG(level, ...) osip_trace(__FILE__, __LINE__, level, nullptr, __VA_ARGS__)

// core
// Hands a datagram to the stack as if it had come from ip:port (fuzzing).
void inject_datagram(const char *buf, size_t len, const char *ip, int port);
// Each NUL-separated datagram of buf in turn, then after() (fuzzing).
template <typename F>
void inject_datagrams(const char *buf, size_t len, const char *ip, int port, F after) {
  const char *p = buf, *end = buf + len;
  while (p < end) {
    const char *nul = static_cast<const char *>(memchr(p, '\0', end - p));
    size_t n = (nul ? nul : end) - p;
    inject_datagram(p, n, ip, port);
    after();
    p += n + 1;
  }
}
std::string random_tag();
std::string local_addr();
std::string new_branch();
void push_event(eXosip_event_t *ev);
eXosip_event_t *new_event(eXosip_event_type_t type, int cid, int did, int tid, const osip_message_t *req,
                          const osip_message_t *resp);
// keep: receives the bytes sent.
int send_raw(osip_message_t *msg, const std::string &host, int port, int tid, std::string *keep = nullptr);
// Shows a message received for transaction tid to the application's hook (as -tid).
void hook_received(osip_message_t *msg, int tid);
int send_text(const char *text, size_t len, const std::string &host, int port);
void next_hop(const osip_message_t *req, std::string &host, int &port);
void via_dest(const osip_message_t *resp, std::string &host, int &port);
bool queue_full();
// For requests outside calls, which may not hold up more than kMaxOtherEvents events.
bool other_queue_full();
osip_transaction_t *start_client(osip_message_t *req, osip_fsm_type_t type, const TrCtx &ctx);
void answer_server(osip_transaction_t *tr, osip_message_t *resp);
osip_transaction_t *server_tr(osip_event_t *evt, const TrCtx &ctx);
bool server_open(const osip_transaction_t *tr);
void reject(osip_event_t *evt, int status);
osip_transaction_t *find_tr(int tid);
// The INVITE server transaction a CANCEL names (same branch and sent-by).
osip_transaction_t *invite_of_cancel(const osip_message_t *cancel);
TrCtx *ctx_of(osip_transaction_t *tr);
void run_machines();
Dialog *find_dialog(int did);
void mark_ready(osip_transaction_t *tr);
std::string call_id_of(const osip_call_id_t *cid);
// Dialogs of that Call-ID (few), instead of a walk over all of them.
template <typename F>
Dialog *dialog_of_call_id(const osip_call_id_t *cid, F pred) {
  auto range = g->dialogs_by_callid.equal_range(call_id_of(cid));
  for (auto it = range.first; it != range.second; ++it) {
    Dialog *d = find_dialog(it->second);
    if (d && pred(d)) return d;
  }
  return nullptr;
}
osip_message_t *build_response(const osip_message_t *req, int status, const char *to_tag, bool contact);
int build_request(osip_message_t **out, const char *method, const char *to, const char *from, const char *route);
osip_message_t *build_in_dialog(Dialog *d, const char *method);
void set_via(osip_message_t *msg);
void set_contact(osip_message_t *msg, const osip_uri_t *user_uri);
std::string header_value(const osip_message_t *msg, const char *name);
// Removes the headers of that name; with keep_last, all but the last one (the caller's own,
// added to a message the stack built, overrides the stack's).
void drop_headers(osip_message_t *m, const char *name, bool keep_last = false);
std::string body_of_type(const osip_message_t *msg, const char *type, const char *subtype);
void stateless_answer(osip_message_t *req, int status);
Dialog *find_dialog(int did);
Call *find_call(int cid);
Dialog *new_dialog(DlgKind kind, int cid, osip_dialog_t *od);
void free_dialog(int did);
void tr_done(osip_transaction_t *tr);
// The UAS side of a dialog a request opens, under a fresh local tag; on failure the request
// is answered 400 and the result is null.
inline osip_dialog_t *uas_dialog(osip_transaction_t *tr, osip_message_t *req) {
  std::string tag = random_tag();
  osip_message_t *tmpl = build_response(req, 200, tag.c_str(), false);
  osip_dialog_t *od = nullptr;
  if (!tmpl || osip_dialog_init_as_uas(&od, req, tmpl) != 0) {
    if (tmpl) osip_message_free(tmpl);
    answer_server(tr, build_response(req, 400, nullptr, false));
    return nullptr;
  }
  osip_message_free(tmpl);
  return od;
}

// An entry point that is handed a message owns it: when it turns the message down it frees it.
inline int refuse(osip_message_t *msg) {
  if (msg) osip_message_free(msg);
  return -1;
}

// calls
void call_incoming_request(osip_event_t *evt);
void call_ack(osip_message_t *ack);
void call_cancel(osip_transaction_t *cancel_tr, osip_message_t *cancel);
bool call_in_dialog(Dialog *d, osip_event_t *evt);
void call_ict_response(int type, osip_transaction_t *tr, osip_message_t *resp);
void call_nict_response(int type, osip_transaction_t *tr, osip_message_t *resp);
void call_timers(Clock::time_point now);
void call_release(Call *c);
int call_retry(Call *c);
void call_stray_2xx(osip_message_t *resp);
void calls_clear();

// subscriptions, registrations, messages
void misc_nict_response(int type, osip_transaction_t *tr, osip_message_t *resp);
bool sub_in_dialog(Dialog *d, osip_event_t *evt);
bool sub_notify_without_dialog(osip_event_t *evt);
void insub_new(osip_event_t *evt);
void out_of_dialog_request(osip_event_t *evt);
void sub_timers(Clock::time_point now);
void subs_clear();
int add_authorization(osip_message_t *msg, const osip_message_t *challenge);
// A copy of a request to send again in a new transaction: CSeq number cseq, a new branch, no
// credentials.
osip_message_t *copy_for_resend(const osip_message_t *req, int cseq);
// Session-Expires raised to the peer's Min-SE (RFC 4028 422), the refresher kept (else dflt).
void use_min_se(osip_message_t *req, const std::string &min_se, const char *dflt_refresher);
int call_redo(Call *c);
bool sub_retry_kept(OutSubscription &s, osip_transaction_t *tr, const osip_message_t *resp);
int sub_retry(OutSubscription &s);
bool can_authorize(const osip_message_t *msg, const osip_message_t *challenge);

}  // namespace exo

#endif
