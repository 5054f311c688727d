#include "web/live_page.h"

const char LivePage::kBody[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width">
<title>Vistrel</title>
<style>
body{margin:0;background:#111;color:#ddd;font:14px sans-serif}
#bar{padding:4px 8px;height:18px}
#bar a{color:#8cf;float:right}
#picture{display:block;max-width:100%}
</style></head>
<body><div id="bar"><a href="recordings.htm" data-t="WebRecordings"></a><span id="camera">Vistrel</span> <span id="size"></span> <span id="state"></span></div>
<img id="picture" src="stream.mjpg" alt="">
<script>
var T = @TEXTS@;
Array.prototype.forEach.call(document.querySelectorAll('[data-t]'), function (node) {
  node.textContent = T[node.getAttribute('data-t')];
});
var picture = document.getElementById('picture');
var still = false;
function showSize() {
  if (picture.naturalWidth > 0)
    document.getElementById('size').textContent = picture.naturalWidth + ' \u00d7 ' + picture.naturalHeight;
}
function nextStill() {
  var next = new Image();
  next.onload = function () { picture.src = next.src; setTimeout(nextStill, 500); };
  next.onerror = function () { setTimeout(nextStill, 2000); };
  next.src = 'wwwcam.jpg?t=' + Date.now();
}
picture.onerror = function () { if (!still) { still = true; nextStill(); } };
function showStatus() {
  var request = new XMLHttpRequest();
  request.open('GET', 'status.json?t=' + Date.now());
  request.onload = function () {
    try {
      var s = JSON.parse(request.responseText);
      if (s.camera) { document.getElementById('camera').textContent = s.camera; document.title = s.camera; }
      document.getElementById('state').textContent = s.recording ? '\u25cf REC' : '';
    } catch (e) {}
  };
  request.send();
}
setInterval(showSize, 500);
setInterval(showStatus, 2000);
showStatus();
</script>
</body></html>
)";
