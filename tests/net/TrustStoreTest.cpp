#include "net/TrustStore.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

TEST(TrustStoreTest, EnvironmentNamesTheAuthoritiesAsTheCurlToolReadsThem) {
  struct Case {
    std::map<std::string, std::string> environment;
    std::string caFile;
    std::string caDirectory;
  };
  const Case cases[] = {
      {{}, "", ""},
      {{{"CURL_CA_BUNDLE", "/a.pem"}, {"SSL_CERT_FILE", "/b.pem"}}, "/a.pem", ""},
      {{{"SSL_CERT_FILE", "/b.pem"}}, "/b.pem", ""},
      {{{"CURL_CA_BUNDLE", ""}, {"SSL_CERT_FILE", "/b.pem"}}, "/b.pem", ""},
      {{{"SSL_CERT_DIR", "/certs"}}, "", "/certs"},
      {{{"CURL_CA_BUNDLE", "/a.pem"}, {"SSL_CERT_DIR", "/certs"}}, "/a.pem", "/certs"},
  };
  for (const Case& row : cases) {
    const TrustStore store = TrustStore::Read([&](const char* name) -> const char* {
      const auto found = row.environment.find(name);
      return found == row.environment.end() ? nullptr : found->second.c_str();
    });
    EXPECT_EQ(store.caFile, row.caFile);
    EXPECT_EQ(store.caDirectory, row.caDirectory);
  }
}

}  // namespace
