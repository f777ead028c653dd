// Reads the catalogue's open servers and profiles tables into node records:
// every server in table order, each with the profiles whose serverid is its id,
// in table order. A profile whose server does not exist is left out.
#pragma once

#include <vector>

#include "store/data.h"
#include "store/nodedata.h"

namespace quorvel {

struct TCatalogueServer {
  TNodeData server;                 // kind 0 with its TServerNodeData
  std::vector<TNodeData> profiles;  // kind 1 with their TProfileNodeData
};

// Empty when the tables are not open.
std::vector<TCatalogueServer> ReadCatalogue(Tdata& d);

}  // namespace quorvel
