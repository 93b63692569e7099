// Runs http-cache-tests with every request sent to a forward proxy (PROXY_PORT, 8080) as an
// absolute URL: the suite's own client would talk to the origin directly.
import http from 'http'
import fetchModule from 'node-fetch'
import { runTests, getResults } from './node_modules/http-cache-tests/client/runner.mjs'
import * as display from './node_modules/http-cache-tests/lib/display.mjs'
import tests from './node_modules/http-cache-tests/tests/index.mjs'

const { Response, Headers } = fetchModule
const proxyPort = Number(process.env.PROXY_PORT || 8080)
const base = process.env.BASE || 'http://localhost:8000'

function proxyFetch (url, init = {}) {
  return new Promise((resolve, reject) => {
    const target = new URL(url)
    const headers = { host: target.host }
    new Headers(init.headers || {}).forEach((value, name) => { headers[name] = value })
    const request = http.request({
      host: '127.0.0.1', port: proxyPort, method: init.method || 'GET', path: url, headers, agent: false
    }, response => {
      const received = new Headers()
      for (let i = 0; i < response.rawHeaders.length; i += 2) {
        received.append(response.rawHeaders[i], response.rawHeaders[i + 1])
      }
      resolve(new Response(response, {
        status: response.statusCode, statusText: response.statusMessage, headers: received, url
      }))
    })
    request.on('error', reject)
    if (init.body) request.write(init.body)
    request.end()
  })
}

let selected = tests
if (process.env.ID) {
  selected = []
  for (const suite of tests) {
    for (const test of suite.tests) {
      if (test.id === process.env.ID) {
        test.dump = true
        selected.push({ name: suite.name, id: suite.id, description: suite.description, tests: [test] })
      }
    }
  }
}
await runTests(selected, proxyFetch, false, base, 20)
const results = getResults()
const counts = {}
for (const suite of tests) {
  for (const test of suite.tests) {
    if (!(test.id in results)) continue
    const symbol = display.determineTestResult(tests, test.id, results, false)
    const key = symbol[2]
    counts[key] = (counts[key] || 0) + 1
    if (process.env.SHOW && key.includes(process.env.SHOW)) {
      const detail = results[test.id] === true ? '' : (results[test.id][1] || '')
      console.log(`${key} ${suite.id} ${test.id}: ${test.name} -- ${detail}`)
    }
  }
}
console.log(JSON.stringify(counts))
