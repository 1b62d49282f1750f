// Loaded with --import before the conformance runner on Node 20: its "fs" is fs-glob.mjs.
import { register } from 'node:module';

register('./node20-hooks.mjs', import.meta.url);
