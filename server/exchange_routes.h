// The three pages of the exchange: search, download and upload.
#pragma once

#include "exchange_store.h"
#include "http_server.h"

namespace cdaz_exchange {

// Form bodies of search and download, and text parts of an upload, are at most this long.
constexpr size_t kMaxFormBytes = 4096;

// Adds the pages to `server`; `store` must outlive it.
void installRoutes(HttpServer& server, Store& store);

} // namespace cdaz_exchange
