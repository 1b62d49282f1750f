// Resolves the conformance runner's "fs" to fs-glob.mjs; everything else as Node does.
const shim = new URL('./fs-glob.mjs', import.meta.url).href;

export async function resolve(specifier, context, next) {
  if ((specifier === 'fs' || specifier === 'node:fs') && context.parentURL &&
      context.parentURL.includes('/@modelcontextprotocol/conformance/'))
    return { url: shim, shortCircuit: true };
  return next(specifier, context);
}
