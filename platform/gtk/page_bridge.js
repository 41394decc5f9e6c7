// Injected at document start into the top frame only, before any script of the page runs. It
// gives the page the same messaging object a page written for the Windows host expects.
//
// Messages to the host carry a per-run token. It lives only in this closure, and everything it
// flows through was captured before the page could replace it, so neither the page nor a frame
// inside it can read it; the host drops every message without it.
(() => {
  'use strict';
  const token = '@BRIDGE_TOKEN@';
  const handlers = window.webkit && window.webkit.messageHandlers;
  const channel = handlers && handlers['@BRIDGE_HANDLER@'];
  if (!channel) {
    return;
  }
  const callBound = Function.prototype.call.bind(Function.prototype.call);
  const channelPost = channel.postMessage;
  const parse = JSON.parse;
  const defineProperty = Object.defineProperty;
  const freeze = Object.freeze;
  const MessageEventType = MessageEvent;
  const schedule = setTimeout;
  const listeners = [];

  const webview = {
    // A message that is not a string reaches the host as empty text, as a structured message
    // does on the Windows host when read as a string.
    postMessage(message) {
      const text = typeof message === 'string' ? message : '';
      callBound(channelPost, channel, token + ':' + text);
    },
    addEventListener(type, listener) {
      if (type !== 'message' || !listener) {
        return;
      }
      for (let i = 0; i < listeners.length; i++) {
        if (listeners[i] === listener) {
          return;
        }
      }
      listeners[listeners.length] = listener;
    },
    removeEventListener(type, listener) {
      if (type !== 'message') {
        return;
      }
      for (let i = 0; i < listeners.length; i++) {
        if (listeners[i] === listener) {
          for (let j = i; j + 1 < listeners.length; j++) {
            listeners[j] = listeners[j + 1];
          }
          listeners.length = listeners.length - 1;
          return;
        }
      }
    },
  };

  // The host passes the JSON text as an argument; it is parsed here, never run as script.
  const deliver = (json) => {
    let data;
    try {
      data = parse(json);
    } catch (error) {
      return;
    }
    const event = new MessageEventType('message', { data });
    const current = [];
    for (let i = 0; i < listeners.length; i++) {
      current[i] = listeners[i];
    }
    for (let i = 0; i < current.length; i++) {
      const listener = current[i];
      try {
        if (typeof listener === 'function') {
          callBound(listener, webview, event);
        } else if (typeof listener.handleEvent === 'function') {
          listener.handleEvent(event);
        }
      } catch (error) {
        // One failing listener does not keep the message from the others; the error still
        // shows up as an uncaught error of the page.
        schedule(() => {
          throw error;
        }, 0);
      }
    }
  };

  const chrome = window.chrome || {};
  defineProperty(chrome, 'webview', {
    value: freeze(webview),
    enumerable: true,
    writable: false,
    configurable: false,
  });
  if (window.chrome !== chrome) {
    defineProperty(window, 'chrome', {
      value: chrome,
      enumerable: true,
      writable: false,
      configurable: false,
    });
  }
  // Fixed in place so that the page cannot put its own function where the host delivers.
  defineProperty(window, '@BRIDGE_DELIVER@', {
    value: deliver,
    enumerable: false,
    writable: false,
    configurable: false,
  });
})();
