(function () {
  'use strict';
  var body = document.body;
  var showPlayers = body.getAttribute('data-show-players') === '1';
  var uptime = document.getElementById('uptime');
  var live = document.getElementById('live');
  var latest = document.getElementById('latest');
  var roomNames = {};
  var upSince = null;

  // Names are untrusted: they only ever become text, and control characters show as marks.
  function clean(text) {
    return String(text).replace(/[\u0000-\u001f\u007f-\u009f]/g, '\ufffd');
  }
  function element(tag, className, text) {
    var node = document.createElement(tag);
    if (className) node.className = className;
    if (text !== undefined) node.textContent = clean(text);
    return node;
  }
  function duration(seconds) {
    var d = Math.floor(seconds / 86400), h = Math.floor(seconds % 86400 / 3600);
    var m = Math.floor(seconds % 3600 / 60);
    if (d > 0) return d + ' d ' + h + ' h';
    if (h > 0) return h + ' h ' + m + ' min';
    if (m > 0) return m + ' min';
    return Math.floor(seconds) + ' s';
  }
  function tick() {
    if (upSince !== null) uptime.textContent = duration((Date.now() - upSince) / 1000);
  }
  function roomSection(title, count, names, extraClass) {
    var section = element('section', 'room' + (extraClass ? ' ' + extraClass : ''));
    var heading = element('h2');
    heading.appendChild(element('span', 'room-name', title));
    heading.appendChild(element('span', 'count', count));
    section.appendChild(heading);
    if (showPlayers && names && names.length > 0) {
      var list = element('ul', 'names');
      names.forEach(function (name) { list.appendChild(element('li', '', name)); });
      section.appendChild(list);
    } else if (count === 0) {
      section.appendChild(element('p', 'empty', 'empty'));
    }
    return section;
  }
  function render(status) {
    document.getElementById('server-name').textContent = clean(status.server.name);
    document.getElementById('players').textContent = status.server.players;
    document.getElementById('max-players').textContent = status.server.max_players;
    upSince = Date.now() - status.server.uptime_seconds * 1000;
    tick();
    var rooms = element('div');
    rooms.id = 'rooms';
    roomNames = {};
    status.rooms.forEach(function (room) {
      roomNames[room.number] = room.name;
      rooms.appendChild(roomSection(room.name, room.players, room.names));
    });
    if (status.elsewhere.players > 0)
      rooms.appendChild(roomSection('Elsewhere', status.elsewhere.players, status.elsewhere.names, 'elsewhere'));
    document.getElementById('rooms').replaceWith(rooms);
  }
  function roomName(number) {
    return roomNames.hasOwnProperty(number) ? roomNames[number] : 'room ' + number;
  }
  function describe(kind, change) {
    var who = change.player !== undefined ? change.player : 'A player';
    switch (kind) {
      case 'join': return who + ' joined ' + roomName(change.room);
      case 'move': return who + ' moved to ' + roomName(change.room);
      case 'leave': return who + ' left';
      case 'room-create': return 'Room ' + change.room_name + ' opened';
      case 'room-delete': return 'Room ' + change.room_name + ' closed';
    }
    return '';
  }

  setInterval(tick, 1000);
  if (!window.EventSource || !window.JSON) return;
  var source = new EventSource('events');
  source.addEventListener('open', function () {
    live.textContent = 'Live';
    live.className = 'live on';
  });
  source.addEventListener('error', function () {
    live.textContent = 'Reconnecting';
    live.className = 'live';
  });
  source.addEventListener('status', function (event) { render(JSON.parse(event.data)); });
  ['join', 'move', 'leave', 'room-create', 'room-delete'].forEach(function (kind) {
    source.addEventListener(kind, function (event) {
      latest.textContent = clean(describe(kind, JSON.parse(event.data)));
    });
  });
})();
