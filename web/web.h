// web.h - requests, response reading, site rules and the page fetch driver.
#pragma once

#include <cstdint>

#include "platform/platform.h"

// Size of the request area at the start of the text scratch buffer (the
// host name follows at character 10,000).
static const int BUILD_REQUEST_CAP = 10000;
// Longest a connect is waited for before it is given up (by open_request's
// waiting connect, or by the steps of a caller that does not wait).
static const int CONNECT_TIMEOUT_MS = 4000;
// Longest a name look-up may block the window before it is given up.
static const int RESOLVE_TIMEOUT_MS = 4000;
// Page text may use the first PAGE_WINDOW bytes of a receive buffer.
static const uint32_t PAGE_WINDOW = 322491;
// A page answer of at most this many bytes may redirect the page.
static const uint32_t SHORT_REDIRECT_MAX = 999;
// Redirects followed in one attempt (from the page request to the stream's
// answer) before the item is given up.
static const int REDIRECT_LIMIT = 10;

// ------------------------------------------------------------- requests

// Splits address, builds the request, connects (direct or through the
// proxy), sends once; stores the socket or 0 in *socket_slot.  The address
// may name a port ("host:port/path"); range_start 0 asks for no range.
// Returns 1 when the connection was made and the request sent, else 0 (a
// socket whose connect failed is still stored).  The connect waits up to
// CONNECT_TIMEOUT_MS: callers that must not wait use the two halves below.
int open_request(uint32_t *socket_slot, int proxy_mode, const char *address,
                 int bare_host, uint32_t range_start);
// The first half of open_request: finds the endpoint for address (the name
// look-up, bounded by RESOLVE_TIMEOUT_MS, is the only wait) and starts the
// connect without waiting for it.  The socket, or 0 when the host cannot
// be found or no socket could be had.  plat_connect_result tells when the
// connect is made.
plat_socket start_request(int proxy_mode, const char *address);
// The second half, once the connect is made: builds the request for address
// as open_request would and sends it on s.  1 when all of it was sent.
int send_request(plat_socket s, int proxy_mode, const char *address, int bare_host,
                 uint32_t range_start);
// Assembles the request into out (BUILD_REQUEST_CAP bytes); returns its
// length.  path may be null.
int build_request(char *out, const char *host, const char *path, int bare_host,
                  uint32_t range_start, int proxy_mode);

// ------------------------------------------------------------ responses

// Bytes waiting on item i's connection (0 with none, on a closed one and on
// error).
uint32_t query_available(int i);
// 1 when name occurs in item i's received text with a complete, non-empty
// line after it; the search cursor then stands just after the name.
int find_header(int i, const char *name);
// Copies the header value at the search cursor into out (at most
// out_size - 1 characters, terminated); returns its length.
int read_header_value(int i, int stop_at_space, char *out, int out_size);
// Length of the header block in text[0, fill) through the CR LF that ends
// its last line (the first half of CR LF CR LF), or 0 while the blank line
// has not come.
uint32_t header_block_length(const char *text, uint32_t fill);
// The value of header name (lower case, without its colon) in the header
// block text[0, block), its name matched in any case at the start of a
// line: its length, copied into out (cut to cap - 1, blanks around it
// dropped), or -1 when there is no such header.
int header_field(const char *text, uint32_t block, const char *name, char *out, int cap);
// The reading pass of the page fetch: reads what is waiting into the page
// window (analysing and emptying a full window first).  1 when something
// was waiting and the item holds a buffer.
int read_page_data(int i);
// Status code of the received answer's first line; 0 while that line is
// incomplete or is not an HTTP status line.
int response_status(int i);
// Stages 1 and 2: follows a redirect header into streamAddress (stage 2).
// 1 when the answer was a redirect (followed, or the item given up after
// too many).
int follow_stream_redirect(int i);
// Stage 2 after the redirect check: status and length of the stream's
// answer.  A length probe (stream_mode 0) ends Queued; otherwise the output
// file is opened and the item is ReceivingHeaders.
void take_stream_answer(int i, uint32_t range_start, int stream_mode);

// ----------------------------------------------------------- site rules

// Runs item i's site rule on its page text; non-zero when found.
int extract_stream_address(int i);
// Second-page rule for kinds 8, 13 and 18 (key null for 18).
void extract_second_page(int i, const char *key);
// Common ending of a successful rule: names the file, closes the page
// connection, moves to next_stage; returns 1 (found).
int finish_page(int i, int next_stage);
// 1 when name can be used as a file inside the download folder: not empty,
// not "." or "..", no path separator.
int file_name_is_safe(const char *name);

// ------------------------------------------------------------ the driver

// One network step of item i from its page to the stream's length.
void fetch_page(int i, uint32_t range_start, int stream_mode);

// Bookkeeping of the request in flight, kept in the item's run beside the
// table (downloads.runs): the address last asked for, and the redirects
// followed in the current attempt (an attempt starts with the request for
// the captured page and goes on while each step moves the item to its next
// address).  The noted address ("" when none).
const char *noted_request(int i);
// Counts one more redirect; 0 when the limit has been passed.
int count_redirect(int i);
// Writes a redirect target into out (cap bytes with its NUL): a target
// beginning with "/" is taken relative to the host (and port) of the
// request it answers, one beginning with "//" names a new host.
void resolve_redirect(int i, const char *target, char *out, int cap);
// Gives item i up as Failed and writes its record.
void give_up_item(int i);

// ------------------------------------------------------ links with a scheme

// The file beside list.o that names why downloads were given up, and the
// size it never passes (a line that would pass it starts the file afresh).
static const char FAILURE_LOG_NAME[] = "quorvax.log";
static const int64_t FAILURE_LOG_CAP = 65536;
// Longest a TLS handshake is stepped before the item is given up.
static const uint32_t TLS_HANDSHAKE_TIMEOUT_MS = 10000;
// Longest the proxy's answer to CONNECT is awaited.
static const uint32_t TUNNEL_TIMEOUT_MS = 10000;

// How far the setup of a direct link's connection has come (ItemRun's
// link_phase); LINK_NONE also for every demo-site request.
enum LinkPhase {
    LINK_NONE = 0,        // connect under way, or no setup of its own
    LINK_TUNNEL = 1,      // CONNECT sent to the proxy; its answer awaited
    LINK_HANDSHAKE = 2,   // TLS handshake under way
    LINK_READY = 3,       // the request is out
};

// Appends one line (tick, item i's page address, reason) to the failure
// log; never fails the caller.
void log_item_failure(int i, const char *reason);
// Gives item i up with a line in the failure log saying why.
void give_up_item_logged(int i, const char *reason);
// Item i (a direct link or a web page) asks for its page address as it
// stands: it becomes the address of this attempt's first request, and the
// stage moves to the stream (the file is named when the stream answers).
// 0 (item given up, a line logged) for an address that cannot be asked for.
int begin_direct_link(int i);
// Starts the connect for a direct link's address: to its host and port, or
// to the proxy.  The socket, or 0 when the host cannot be found.
plat_socket start_direct_request(int proxy_mode, const char *address);
// One step of the setup once the connect is made: tunnel through the
// proxy, TLS handshake, then the request (ranged from range_start when not
// 0).  1 once the request is out; 0 while setting up or when the item was
// given up.  A web page's own request never asks for a range; the stream
// found on it is asked for with the page as Referer.
int direct_link_step(int i, uint32_t range_start);
// Builds the request for a direct link into out (cap bytes); its length,
// 0 when it does not fit.  absolute_form: a plain request through the
// proxy, which names the whole address.  referer, when not null, is sent
// as the Referer header.
int build_direct_request(char *out, int cap, const char *host, uint16_t port, int tls,
                         const char *target, uint32_t range_start, int absolute_form,
                         const char *referer);

// ---------------------------------------------------------- any web page

// How far a web page's first answer has been taken in this attempt.
enum WebPagePhase {
    PAGE_UNREAD = 0,        // the page's answer is awaited
    PAGE_IS_MEDIA = 1,      // the page answered with media: it is the stream
    PAGE_STREAM_FOUND = 2,  // the stream is the media the page declares
};
// The page's body is read up to this many bytes; a longer page is searched
// in its first PAGE_BODY_MAX bytes.
static const uint32_t PAGE_BODY_MAX = 1048576;

// One step of a web page's first answer (the connection is set up and the
// request out): reads it, follows a redirect, and once enough has come
// judges it - media goes on as the stream, a page is searched for the media
// it declares, manifests, protected media and pages without a video give
// the item up with a line in the failure log.
void web_page_answer(int i, uint32_t range_start, int stream_mode);
// The stream's answer for a direct link or a web page: 1 once its header
// block is complete and it may be saved (item i then has a file name) or is
// a status other than success, left to the direct link's refusals; 0 while
// the header block is incomplete, or when the item was given up (a
// manifest, protected media, a page, a name that cannot be had).
int link_stream_usable(int i);
