#include "page_server.h"

#include <cstring>

#include "text_format.h"

namespace {

// Polls rather than holding a request open: a reload then never waits on a request the server
// is still answering, and a server that went away, or refuses the page (a browser without the
// token's cookie), costs the page nothing but failed polls.
// The scroll position goes across the reload in sessionStorage, this tab's alone.
constexpr char kReloadScript[] = R"(<script>(function(){
var key='qs71gen-scroll',seen=%llu;
addEventListener('load',function(){var y=sessionStorage.getItem(key);if(y!==null){sessionStorage.removeItem(key);scrollTo(0,+y);}});
setInterval(function(){fetch('/generation',{cache:'no-store'}).then(function(r){if(!r.ok)throw r.status;return r.text();}).then(function(t){
if(+t!==seen){sessionStorage.setItem(key,String(scrollY));location.reload();}}).catch(function(){});},250);
})();</script>)";

// The page allows nothing from outside it; the served copy must also reach the server.
constexpr char kPolicy[] = "default-src 'none';";
constexpr char kLivePolicy[] = "default-src 'none'; connect-src 'self';";

}  // namespace

std::string LivePage(const std::string& page, uint64_t generation) {
  std::string live = page;
  const size_t policy = live.find(kPolicy);
  if (policy != std::string::npos) live.replace(policy, std::strlen(kPolicy), kLivePolicy);
  const std::string script = Format(kReloadScript, static_cast<unsigned long long>(generation));
  const size_t end = live.rfind("</body>");
  live.insert(end == std::string::npos ? live.size() : end, script);
  return live;
}
