// SIP stack interface of the core's user agent, written on osip2 and osipparser2.
// Every function takes the stack's one internal (recursive) lock; pointers handed out
// (eXosip_call_t, eXosip_dialog_t, osip_transaction_t) stay valid only while the caller
// holds eXosip_lock().
#ifndef EXOSIP2_EXOSIP_H
#define EXOSIP2_EXOSIP_H

#include <sys/time.h>
#include <time.h>

#include <osip2/osip.h>
#include <osip2/osip_dialog.h>
#include <osipparser2/osip_parser.h>
#include <osipparser2/sdp_message.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Options of eXosip_set_option. */
#define EXOSIP_OPT_DONT_SEND_101 6        /* int*: the stack never sends 101 anyway */
#define EXOSIP_OPT_SET_IPV4_FOR_GATEWAY 8 /* const char*: IPv4 address written into Via and Contact */

int eXosip_init(void);
void eXosip_quit(void);
int eXosip_listen_addr(int transport, const char *addr, int port, int family, int secure);
void eXosip_set_user_agent(const char *user_agent);
int eXosip_set_option(int opt, const void *value);
int eXosip_guess_localip(int family, char *address, int size);
void eXosip_lock(void);
void eXosip_unlock(void);

/* Called, with the stack lock held, with every message the stack is about to send and the id
   of its transaction (for an ACK or a retransmitted 2xx, the INVITE's; 0 for none), and with
   every message received for a transaction or a dialog, before the stack handles it, with the
   negative id of that transaction (for an ACK or a repeated 2xx, the INVITE's). */
typedef void (*eXosip_cbsip_message_t)(osip_message_t *msg, int tid);
void eXosip_set_cbsip_message(eXosip_cbsip_message_t cb);

typedef enum eXosip_event_type {
  EXOSIP_REGISTRATION_NEW = 0,
  EXOSIP_REGISTRATION_SUCCESS = 1,
  EXOSIP_REGISTRATION_FAILURE = 2,
  EXOSIP_REGISTRATION_REFRESHED = 3,
  EXOSIP_REGISTRATION_TERMINATED = 4,
  EXOSIP_CALL_INVITE = 5,
  EXOSIP_CALL_REINVITE = 6,
  EXOSIP_CALL_NOANSWER = 7,
  EXOSIP_CALL_PROCEEDING = 8,
  EXOSIP_CALL_RINGING = 9,
  EXOSIP_CALL_ANSWERED = 10,
  EXOSIP_CALL_REDIRECTED = 11,
  EXOSIP_CALL_REQUESTFAILURE = 12,
  EXOSIP_CALL_SERVERFAILURE = 13,
  EXOSIP_CALL_GLOBALFAILURE = 14,
  EXOSIP_CALL_ACK = 15,
  EXOSIP_CALL_CANCELLED = 16,
  EXOSIP_CALL_TIMEOUT = 17,
  EXOSIP_CALL_MESSAGE_NEW = 18,
  EXOSIP_CALL_MESSAGE_PROCEEDING = 19,
  EXOSIP_CALL_MESSAGE_ANSWERED = 20,
  EXOSIP_CALL_MESSAGE_REDIRECTED = 21,
  EXOSIP_CALL_MESSAGE_REQUESTFAILURE = 22,
  EXOSIP_CALL_MESSAGE_SERVERFAILURE = 23,
  EXOSIP_CALL_MESSAGE_GLOBALFAILURE = 24,
  EXOSIP_CALL_CLOSED = 25,
  EXOSIP_CALL_RELEASED = 26,
  EXOSIP_MESSAGE_NEW = 27,
  EXOSIP_MESSAGE_PROCEEDING = 28,
  EXOSIP_MESSAGE_ANSWERED = 29,
  EXOSIP_MESSAGE_REDIRECTED = 30,
  EXOSIP_MESSAGE_REQUESTFAILURE = 31,
  EXOSIP_MESSAGE_SERVERFAILURE = 32,
  EXOSIP_MESSAGE_GLOBALFAILURE = 33,
  EXOSIP_SUBSCRIPTION_UPDATE = 34,
  EXOSIP_SUBSCRIPTION_CLOSED = 35,
  EXOSIP_SUBSCRIPTION_NOANSWER = 36,
  EXOSIP_SUBSCRIPTION_PROCEEDING = 37,
  EXOSIP_SUBSCRIPTION_ANSWERED = 38,
  EXOSIP_SUBSCRIPTION_REDIRECTED = 39,
  EXOSIP_SUBSCRIPTION_REQUESTFAILURE = 40,
  EXOSIP_SUBSCRIPTION_SERVERFAILURE = 41,
  EXOSIP_SUBSCRIPTION_GLOBALFAILURE = 42,
  EXOSIP_SUBSCRIPTION_NOTIFY = 43,
  EXOSIP_SUBSCRIPTION_RELEASED = 44,
  EXOSIP_IN_SUBSCRIPTION_NEW = 45,
  EXOSIP_IN_SUBSCRIPTION_RELEASED = 46,
  EXOSIP_NOTIFICATION_NOANSWER = 47,
  EXOSIP_NOTIFICATION_PROCEEDING = 48,
  EXOSIP_NOTIFICATION_ANSWERED = 49,
  EXOSIP_NOTIFICATION_REDIRECTED = 50,
  EXOSIP_NOTIFICATION_REQUESTFAILURE = 51,
  EXOSIP_NOTIFICATION_SERVERFAILURE = 52,
  EXOSIP_NOTIFICATION_GLOBALFAILURE = 53,
  EXOSIP_EVENT_COUNT = 54
} eXosip_event_type_t;

typedef struct eXosip_event {
  eXosip_event_type_t type;
  char textinfo[256];
  void *external_reference;
  osip_message_t *request;  /* owned by the event */
  osip_message_t *response; /* owned by the event */
  osip_message_t *ack;      /* owned by the event */
  int tid;
  int did;
  int rid;
  int cid;
  int sid;
  int nid;
  int ss_status;
  int ss_reason;
} eXosip_event_t;

eXosip_event_t *eXosip_event_wait(int tv_s, int tv_ms);
eXosip_event_t *eXosip_event_get(void);
void eXosip_event_free(eXosip_event_t *je);
/* CALL_REQUESTFAILURE 401/407 (credentials) or 422 (Min-SE): the INVITE again in the same call.
   CALL_MESSAGE_REQUESTFAILURE 422 or 491 to a re-INVITE or UPDATE: the request again, with the
   Min-SE at once, or after the RFC 3261 14.1 random delay. SUBSCRIPTION_REQUESTFAILURE 401/407:
   the SUBSCRIBE again with credentials. Each is forgotten 5 s after its event when not asked. */
int eXosip_default_action(eXosip_event_t *je);
void eXosip_automatic_action(void);
/* Renews outgoing subscriptions at half their expiry and registrations at nine tenths of what
   the registrar granted. */
void eXosip_automatic_refresh(void);

/* Calls. */
typedef struct eXosip_call {
  int c_id;
  void *external_reference;
} eXosip_call_t;

typedef struct eXosip_dialog {
  int d_id;
  int d_STATE; /* 0 early, 1 confirmed, 2 closed */
} eXosip_dialog_t;

int eXosip_call_build_initial_invite(osip_message_t **invite, const char *to, const char *from, const char *route,
                                     const char *subject);
int eXosip_call_send_initial_invite(osip_message_t *invite); /* cid > 0 or < 0 */
int eXosip_call_set_reference(int cid, void *reference);
void *eXosip_call_get_reference(int cid);
int eXosip_call_build_answer(int tid, int status, osip_message_t **answer);
int eXosip_call_send_answer(int tid, int status, osip_message_t *answer); /* answer may be NULL */
int eXosip_call_send_answer_with_reason(int tid, int status, osip_message_t *answer, const char *reason);
int eXosip_call_build_ack(int did, osip_message_t **ack);
int eXosip_call_send_ack(int did, osip_message_t *ack);
int eXosip_call_build_prack(int tid, osip_message_t **prack);
int eXosip_call_send_prack(int tid, osip_message_t *prack);
int eXosip_call_build_request(int did, const char *method, osip_message_t **request);
int eXosip_call_build_info(int did, osip_message_t **request);
int eXosip_call_build_update(int did, osip_message_t **request);
int eXosip_call_build_options(int did, osip_message_t **request);
int eXosip_call_build_refer(int did, const char *refer_to, osip_message_t **request);
int eXosip_call_build_notify(int did, int subscription_status, osip_message_t **request);
int eXosip_call_send_request(int did, osip_message_t *request);
int eXosip_call_terminate(int cid, int did);
/* Ends the call as its state asks (answer, CANCEL or BYE) carrying a Reason header with
   reason, a WG67-Version header with wg67_version and a User-Agent header with user_agent
   (each when non-empty); local_ip replaces the host of the BYE's Via. session is not read. */
int eXosip_call_terminate_with_text(int cid, int did, int status, const char *reason, const char *local_ip,
                                    const char *wg67_version, const char *user_agent, void *session);
int _eXosip_call_transaction_find(int tid, eXosip_call_t **jc, eXosip_dialog_t **jd, osip_transaction_t **tr);

/* Console dump of the calls, their dialogs and transactions. */
#define EXOSIP_INFO_MAX_DIALOGS 4
typedef struct eXosip_dialog_info {
  int did;
  int state;
  int inc_trs; /* live transactions received in the dialog, -1 when the dialog has no list */
  int out_trs; /* live transactions sent in the dialog, -1 when the dialog has no list */
} eXosip_dialog_info_t;
typedef struct eXosip_call_info {
  int cid;
  int inc_tid; /* incoming INVITE transaction, -1 when none */
  int out_tid; /* outgoing INVITE transaction, -1 when none */
  int ndialogs;
  eXosip_dialog_info_t dialogs[EXOSIP_INFO_MAX_DIALOGS];
} eXosip_call_info_t;
/* Fills up to max records; returns the number of calls held. */
int eXosip_call_get_infos(eXosip_call_info_t *infos, int max);

/* Requests outside dialogs (OPTIONS, MESSAGE, INFO, NOTIFY, REFER ... received as EXOSIP_MESSAGE_NEW). */
int eXosip_message_build_request(osip_message_t **message, const char *method, const char *to, const char *from,
                                 const char *route);
int eXosip_message_send_request(osip_message_t *message); /* tid > 0 or < 0 */
int eXosip_message_build_answer(int tid, int status, osip_message_t **answer);
int eXosip_message_send_answer(int tid, int status, osip_message_t *answer);
int eXosip_options_build_request(osip_message_t **options, const char *to, const char *from, const char *route);
int eXosip_options_send_request(osip_message_t *options);
int eXosip_options_build_answer(int tid, int status, osip_message_t **answer);
int eXosip_options_send_answer(int tid, int status, osip_message_t *answer);

/* Subscription states, reasons and presence statuses. */
#define EXOSIP_SUBCRSTATE_UNKNOWN 0
#define EXOSIP_SUBCRSTATE_PENDING 1
#define EXOSIP_SUBCRSTATE_ACTIVE 2
#define EXOSIP_SUBCRSTATE_TERMINATED 3

#define DEACTIVATED 0
#define PROBATION 1
#define REJECTED 2
#define TIMEOUT 3
#define GIVEUP 4
#define NORESOURCE 5

#define EXOSIP_NOTIFY_UNKNOWN 0
#define EXOSIP_NOTIFY_PENDING 1
#define EXOSIP_NOTIFY_ONLINE 2
#define EXOSIP_NOTIFY_BUSY 3
#define EXOSIP_NOTIFY_BERIGHTBACK 4
#define EXOSIP_NOTIFY_AWAY 5
#define EXOSIP_NOTIFY_ONTHEPHONE 6
#define EXOSIP_NOTIFY_OUTTOLUNCH 7
#define EXOSIP_NOTIFY_CLOSED 8

/* Incoming subscriptions (nid, did). */
int eXosip_insubscription_build_answer(int tid, int status, osip_message_t **answer);
int eXosip_insubscription_send_answer(int tid, int status, osip_message_t *answer);
int eXosip_insubscription_build_notify(int did, int subscription_status, int subscription_reason,
                                       osip_message_t **request);
int eXosip_insubscription_build_request(int did, const char *method, osip_message_t **request);
int eXosip_insubscription_send_request(int did, osip_message_t *request);

/* Outgoing subscriptions (sid, did). */
int eXosip_subscribe_build_initial_request(osip_message_t **subscribe, const char *to, const char *from,
                                           const char *route, const char *event, int expires);
int eXosip_subscribe_send_initial_request(osip_message_t *subscribe); /* sid > 0 or < 0 */
int eXosip_subscribe_build_refresh_request(int did, osip_message_t **subscribe);
int eXosip_subscribe_send_refresh_request(int did, osip_message_t *subscribe);

/* Registrations (rid). Once accepted, eXosip_automatic_refresh refreshes them; a refused one
   (REGISTRATION_FAILURE) is left to the application. */
int eXosip_register_build_initial_register(const char *from, const char *proxy, const char *contact, int expires,
                                           osip_message_t **reg); /* rid > 0 or < 0 */
int eXosip_register_build_register(int rid, int expires, osip_message_t **reg);
int eXosip_register_send_register(int rid, osip_message_t *reg);
int eXosip_add_authentication_info(const char *username, const char *userid, const char *passwd, const char *ha1,
                                   const char *realm);
int eXosip_clear_authentication_info(void);

/* SDP (the caller frees what it gets with sdp_message_free). */
sdp_message_t *eXosip_get_remote_sdp(int did);
sdp_message_t *eXosip_get_local_sdp(int did);
sdp_message_t *eXosip_get_sdp_info(osip_message_t *message);
sdp_connection_t *eXosip_get_audio_connection(sdp_message_t *sdp);
sdp_media_t *eXosip_get_audio_media(sdp_message_t *sdp);

#ifdef __cplusplus
}
#endif

#endif
