// The token a form that acts on mail must carry (against cross-site request
// forgery): a random one per login, that is per Authorization header the
// browser sends, made when the login first sees a page with such a form and
// kept while the server runs. Another site can make the browser send the
// login, never read the token.
#pragma once

#include <map>
#include <string>

namespace varnolt::dashboard {

class ActionTokens {
 public:
  // The login's token, made on first use.
  std::string TokenFor(const std::string& authorization);
  // Whether the given token is the login's, compared in constant time; false
  // when the login has none yet.
  bool Valid(const std::string& authorization, const std::string& given) const;

 private:
  std::map<std::string, std::string> tokens_;
};

}  // namespace varnolt::dashboard
