// The messages a client's transport receives, in the order they arrive, before the SDK's
// client handles them: the SDK hands a notification on a microtask later but a response at
// once, so a progress that came just before its answer may never reach an onprogress handler.
// What the server sent is read here instead.
export function recordMessages(client) {
  const { transport } = client;
  const inner = transport.onmessage;
  const messages = [];
  transport.onmessage = (message, extra) => {
    messages.push(message);
    inner?.(message, extra);
  };
  return messages;
}

// The progress notifications that came before the answer to the call among `messages`, and
// whether an answer came at all.
export function progressBeforeAnswer(messages) {
  const answer = messages.findIndex((message) => 'result' in message || 'error' in message);
  const before = answer < 0 ? messages : messages.slice(0, answer);
  return {
    answered: answer >= 0,
    progress: before.filter((message) => message.method === 'notifications/progress')
      .map((message) => message.params),
  };
}
