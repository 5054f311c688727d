#include "web/recordings_page.h"

const char RecordingsPage::kBody[] = R"(<!DOCTYPE html>
<html><head><meta charset="utf-8"><meta name="viewport" content="width=device-width, initial-scale=1">
<title>Vistrel</title>
<style>
body{margin:0;background:#111;color:#ddd;font:14px sans-serif}
[hidden]{display:none!important}
a{color:#8cf}
#bar{padding:6px 8px;display:flex;gap:12px;align-items:baseline;flex-wrap:wrap}
#bar b{font-size:16px}
#player{position:sticky;top:0;background:#000;z-index:1;text-align:center}
#player video,#player img{display:block;margin:0 auto;max-width:100%;max-height:70vh}
#player div{padding:4px 8px;text-align:left}
h2{font-size:15px;margin:14px 8px 6px}
.grid{display:grid;grid-template-columns:repeat(auto-fill,minmax(160px,1fr));gap:8px;padding:0 8px}
.entry{background:#1c1c1c;border-radius:4px;overflow:hidden}
.thumb{display:block;width:100%;aspect-ratio:4/3;object-fit:cover;background:#2a2a2a;cursor:pointer;border:0}
.levels{display:block;width:100%;height:24px;cursor:pointer;background:#181818}
div.thumb{display:flex;align-items:center;justify-content:center;color:#666;font-size:32px}
.info{padding:4px 6px;line-height:1.5;display:flex;flex-wrap:wrap;column-gap:8px}
.now{padding:6px 8px;color:#f66}
.photos img{width:100%;aspect-ratio:4/3;object-fit:cover;display:block;background:#2a2a2a}
#message{padding:8px}
</style></head>
<body><div id="bar"><a href="live.htm" data-t="WebLive"></a><b data-t="WebRecordings"></b></div>
<div id="player" hidden><video id="video" controls playsinline muted></video><img id="replay" alt="">
<div><span id="playing"></span> <button id="close" data-t="WebClose"></button></div></div>
<div id="now"></div><div id="list"></div>
<h2 id="photosTitle" data-t="WebPhotos" hidden></h2><div id="photos" class="grid photos"></div>
<p id="message"></p>
<script>
var T = @TEXTS@;
function t(key) { return T[key] || key; }
function $(id) { return document.getElementById(id); }
function add(parent, tag, className, text) {
  var node = document.createElement(tag);
  if (className) node.className = className;
  if (text !== undefined) node.textContent = text;
  parent.appendChild(node);
  return node;
}
document.documentElement.lang = t('WebLocale');
document.title = t('WebRecordings');
Array.prototype.forEach.call(document.querySelectorAll('[data-t]'), function (node) {
  node.textContent = t(node.getAttribute('data-t'));
});
function two(n) { return (n < 10 ? '0' : '') + n; }
function length(seconds) {
  var h = Math.floor(seconds / 3600), m = Math.floor(seconds / 60) % 60, s = seconds % 60;
  return (h > 0 ? h + ':' + two(m) : m) + ':' + two(s);
}
function size(bytes) {
  if (bytes >= 1048576) return (bytes / 1048576).toFixed(1) + '\u00a0' + t('WebMegabytes');
  return Math.max(1, Math.round(bytes / 1024)) + '\u00a0' + t('WebKilobytes');
}
var activations = {always: 'WebActivationAlways', window: 'WebActivationWindow', detector: 'WebActivationDetector'};
function dayTitle(time) {
  var d = new Date(+time.substr(0, 4), +time.substr(5, 2) - 1, +time.substr(8, 2));
  try { return d.toLocaleDateString(t('WebLocale'), {weekday: 'long', year: 'numeric', month: 'long', day: 'numeric'}); }
  catch (e) { return time.substr(0, 10); }
}
function stop() {
  var video = $('video'), replay = $('replay');
  video.pause();
  video.removeAttribute('src');
  video.load();
  replay.removeAttribute('src');
  $('player').hidden = true;
}
// An MP4 plays in the browser's own player; an AVI as the server's paced replay of its pictures.
function play(r, second) {
  var video = $('video'), replay = $('replay');
  $('player').hidden = false;
  $('playing').textContent = r.time + (second > 0 ? ' +' + length(second) : '');
  if (r.format === 'mp4') {
    replay.removeAttribute('src');
    replay.hidden = true;
    video.hidden = false;
    var source = 'recordings/' + encodeURIComponent(r.name);
    if (video.getAttribute('src') !== source) { video.src = source; }
    if (video.readyState > 0) video.currentTime = second;
    else video.addEventListener('loadedmetadata', function () { video.currentTime = second; }, {once: true});
    video.play().catch(function () {});
  } else {
    video.pause();
    video.removeAttribute('src');
    video.hidden = true;
    replay.hidden = false;
    replay.src = 'replay.mjpg?file=' + encodeURIComponent(r.name) + '&start=' + second + '&t=' + Date.now();
  }
  window.scrollTo(0, 0);
}
// One bar a second, as high as the peak motion of that second (0..100).
function drawLevels(canvas, levels) {
  var width = canvas.width = Math.max(160, Math.round(canvas.clientWidth * (window.devicePixelRatio || 1)));
  var height = canvas.height;
  var context = canvas.getContext('2d');
  context.clearRect(0, 0, width, height);
  var step = width / levels.length;
  for (var i = 0; i < levels.length; ++i) {
    var level = Math.min(levels[i], 100) / 100;
    context.fillStyle = level > 0.5 ? '#f84' : level > 0.15 ? '#fc4' : '#5a5';
    var bar = Math.max(1, Math.round(level * height));
    context.fillRect(Math.floor(i * step), height - bar, Math.max(1, Math.ceil(step) - (step > 3 ? 1 : 0)), bar);
  }
}
function addLevels(entry, r) {
  var canvas = document.createElement('canvas');
  canvas.className = 'levels';
  canvas.height = 24;
  canvas.title = t('WebLevelsHint');
  var request = new XMLHttpRequest();
  request.open('GET', 'levels/' + encodeURIComponent(r.name));
  request.responseType = 'arraybuffer';
  request.onload = function () {
    if (request.status !== 200 || request.response.byteLength === 0) return;
    var levels = new Uint8Array(request.response);
    entry.querySelector('.length').textContent = length(levels.length);
    entry.insertBefore(canvas, entry.children[1]);
    drawLevels(canvas, levels);
    canvas.onclick = function (event) {
      var box = canvas.getBoundingClientRect();
      var second = Math.floor((event.clientX - box.left) / box.width * levels.length);
      play(r, Math.max(0, Math.min(levels.length - 1, second)));
    };
  };
  request.send();
}
function addEntry(grid, r) {
  var entry = add(grid, 'div', 'entry');
  entry.setAttribute('data-name', r.name);
  var thumb;
  function placeholder() {
    var box = document.createElement('div');
    box.className = 'thumb';
    box.textContent = '\u25b6';
    box.onclick = function () { play(r, 0); };
    if (thumb) entry.replaceChild(box, thumb); else entry.insertBefore(box, entry.firstChild);
    thumb = box;
  }
  if (r.thumb === false) placeholder();
  else {
    thumb = add(entry, 'img', 'thumb');
    thumb.loading = 'lazy';
    thumb.alt = '';
    thumb.onerror = placeholder;
    thumb.onclick = function () { play(r, 0); };
    thumb.src = 'thumbs/' + encodeURIComponent(r.name) + '.jpg';
  }
  var info = add(entry, 'div', 'info');
  add(info, 'span', 'time', r.time.substr(11));
  // The level file holds one byte for each second recorded.
  add(info, 'span', 'length', length(r.levels > 0 ? r.levels : r.seconds));
  add(info, 'span', 'size', size(r.bytes));
  if (activations[r.activation]) add(info, 'span', 'activation', t(activations[r.activation]));
  var download = add(info, 'a', 'download', t('WebDownload'));
  download.href = 'recordings/' + encodeURIComponent(r.name) + '?download';
  download.setAttribute('download', r.name);
  if (r.levels !== 0 && r.levels !== false) addLevels(entry, r);
}
function show(list) {
  if (list.recordingNow) {
    var now = add($('now'), 'a', 'now', '\u25cf ' + t('WebRecordingNow') + ' ' +
                  list.recordingNow.replace(/^\d{6}_(\d\d)(\d\d)(\d\d).*$/, '$1:$2:$3'));
    now.href = 'live.htm';
  }
  var day = '', grid = null;
  list.recordings.forEach(function (r) {
    if (r.time.substr(0, 10) !== day) {
      day = r.time.substr(0, 10);
      add($('list'), 'h2', 'day', dayTitle(r.time));
      grid = add($('list'), 'div', 'grid');
    }
    addEntry(grid, r);
  });
  if (list.recordings.length === 0 && !list.recordingNow) $('message').textContent = t('WebNothingRecorded');
  $('photosTitle').hidden = list.photos.length === 0;
  list.photos.forEach(function (p) {
    var link = add($('photos'), 'a');
    link.href = 'photos/' + encodeURIComponent(p.name);
    link.title = p.time;
    var picture = add(link, 'img');
    picture.loading = 'lazy';
    picture.alt = p.name;
    picture.src = link.href;
  });
}
$('close').onclick = stop;
var request = new XMLHttpRequest();
request.open('GET', 'recordings.json?t=' + Date.now());
request.onload = function () {
  try { show(JSON.parse(request.responseText)); }
  catch (e) { $('message').textContent = t('WebListFailed'); }
};
request.onerror = function () { $('message').textContent = t('WebListFailed'); };
request.send();
</script>
</body></html>
)";
