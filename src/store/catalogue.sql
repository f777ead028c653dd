-- The catalogue's tables. The build creates lib/quorvel.db with them when it is
-- absent. The program creates trusted_certificates (the same statement,
-- src/store/trust.cpp) in a catalogue made before it existed, and adds the
-- columns later versions read (src/store/catalogueupgrade.cpp) to an older one;
-- trusted_certificates' host and port are added by src/store/trust.cpp, which
-- owns that table.
CREATE TABLE servers (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  server VARCHAR(255),
  port INTEGER,
  ssl VARCHAR(1),
  uid VARCHAR(1024),
  pwd VARCHAR(255),
  basedn VARCHAR(1024),
  auth VARCHAR(16) DEFAULT 'simple'
);
CREATE TABLE profiles (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  name VARCHAR(255),
  serverid INTEGER,
  basedn VARCHAR(1024),
  scope INTEGER,
  att VARCHAR(4096),
  filter VARCHAR(4096),
  readable INTEGER DEFAULT 1,
  view TEXT DEFAULT ''
);
CREATE TABLE trusted_certificates (
  id INTEGER PRIMARY KEY AUTOINCREMENT,
  serverid INTEGER,
  fingerprint VARCHAR(95),
  subject VARCHAR(1024),
  issuer VARCHAR(1024),
  expiry VARCHAR(32),
  trusted VARCHAR(32),
  host VARCHAR(255),
  port INTEGER
);
