/* The boundary between libtamlib and its HTTP module (libtamlib-http.so, tamlib/http/): one plain
 * C call that carries one POST. libtamlib loads the module on the first exchange request. */
#ifndef TAMLIB_HTTP_MODULE_H
#define TAMLIB_HTTP_MODULE_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

typedef struct TamlibHttpRequest
{
    const char* url;      /* http:// only */
    const char* userAgent;
    const char* const* headers; /* "Name: value" lines */
    uint32_t headerCount;
    const uint8_t* body;
    size_t bodySize;
    size_t piece;      /* 0: the body at once; else sent in pieces of at most this size */
    size_t replyLimit; /* 0: no limit; else a longer answer ends the transfer as failed */
    long connectMs;
    long totalMs;
    long lowSpeedBytes; /* a transfer slower than this many bytes a second ... */
    long lowSpeedSeconds; /* ... for this long is given up */
    /* Receives the answer's body as it arrives; 0 ends the transfer as failed. May be null. */
    int32_t (*sink)(void* user, long status, const uint8_t* data, size_t size);
    void* sinkUser;
} TamlibHttpRequest;

typedef struct TamlibHttpResult
{
    int32_t complete; /* the request went out and the whole answer came back */
    long status;      /* 0 when no answer arrived */
} TamlibHttpResult;

#define TAMLIB_HTTP_POST_NAME "tamlibHttpPost"
typedef void (*TamlibHttpPostFn)(const TamlibHttpRequest* request, TamlibHttpResult* result);

#ifdef __cplusplus
}
#endif

#endif
