// The domains whose mail the provider hosts, and the test whether an address's domain is one of them.
#include "hosted_domains.h"

#include "value_text.h"

// The provider's customer domains, in no particular order. To add a domain, write it in lower case
// before the empty end marker; to drop one, delete it. Every entry is plain ASCII; the README says what the
// tests demand of an entry.
const char* const HostedDomains[] = {
    "fontaneria-delinon.com",
    // Matching ignores letter case, so this entry also matches "valelangrupo.com"; it is kept in upper case
    // as the provider wrote it.
    "VALELANGRUPO.COM",
    "brenandetofene.com", "naricantec.es",
    "salontellirir.com", "maruelall-iberica.com", "fontaneria-delonte.es", "casezongrupo.es",
    "grafica-delirara.com", "electro-salivar.es", "maderas-talualn.com", "renivar2000.es",
    "seguros-esturora.com", "sevicato-tec.es", "yeletocoro.com", "balinomore.com",
    "transportes-delomarll.com", "fontaneria-delirato.com", "turismo-nevica.com", "urivarnveni.es",
    "dental-ubanan.com", "salelasquin.com", "casica-tec.com", "doreton-24.com", "nevezototec.es",
    "fenantanuret.com", "garidas-sur.com", "brenidaquin.com", "firana24.com", "iretolore.es",
    "fontaneria-goluals.es", "brenetostali.es", "corinos-tec.com", "maderas-brenida.es",
    "salinos-tec.es", "jardines-sevica.es", "sevidatomaru.com", "zarualrasl.es", "venananesta.es",
    "talleres-firezos.com", "firual-2000.com", "electro-olualn.com", "roselan-sur.es", "urual-24.es",
    "agro-lorinora.com", "clinica-yelicall.es", "jardines-taluelato.net", "obras-venandell.com",
    "muebles-irezon.com", "helicauran.es", "naromarll-iberica.com", "ubosasnorte.es",
    "obras-nevuelato.es", "reformas-lumandera.es", "loranden-norte.com", "salomarsl.es",
    "oranatohela.com", "studio-zarontes.com", "nareraranevi.com", "valetonevo.es",
    "studio-balelall.com", "marande24.com", "fontaneria-zaretoll.com", "balelall24.es",
    "peletoorid.com", "doretos-norte.es", "talerasneve.com", "sevanderatore.com", "hostal-salomar.es",
    "pralela-sur.com", "turismo-golomarll.com", "sevandesiberica.es", "delanta-grupo.es",
    "transportes-heluelan.com", "grafica-brenera.net", "casidara-24.com", "muebles-esticara.es",
    "brenantanpeli.com", "jardines-pelera.com", "talleres-marezora.com", "praluelasolan.com",
    "doruelan-norte.com", "viveros-lorual.com", "rosontentec.com", "peliraquin.es",
    "zareto-iberica.com", "orualtonaru.org", "brenanatomara.net", "delelallveni.es",
    "viveros-narezo.com", "ireton-iberica.es", "optica-delantan.es", "ferreteria-taliran.com",
    "neverasseve.es", "oletopral.com", "corivarmaro.com", "urivartosevi.com", "jardines-torosall.es",
    "oruelall-iberica.com", "asesoria-ubonteto.es", "oretostec.com", "coricalumu.es",
    "calzados-salanta.com", "coruelarahnos.es", "pralurohele.com", "olidaquin.com", "delidallgari.com",
    "textil-corelan.com", "muebles-iranta.es", "brenomarllmori.com", "jalezo-sur.es",
    "electro-quinera.com", "loronte-sl.es", "ferreteria-zarosall.com", "agro-talantall.com",
    "ferreteria-ubandell.com", "grafica-torivarll.com", "seguros-sevivarn.es", "corerasseva.es",
    "clinica-golelan.com", "balomars-grupo.es", "academia-garidan.com", "imprenta-zarivarll.es",
    "fontaneria-loriras.es", "talleres-renosas.es", "irerarasur.com", "morerall-norte.es",
    "zarino24.es", "venetosfira.com", "irirarauros.es", "goluelatogrupo.com", "jalinoto-grupo.com",
    "praluela24.es", "muebles-goliran.es", "sevinosjali.es", "asesoria-golino.com",
    "talleres-firual.com", "reformas-marandell.net", "seguros-dorualto.es", "obras-morantan.es",
    "sevosasbren.com", "estomariberica.com", "calzados-olirara.net", "academia-maridall.es",
    "hostal-corual.com", "talana-grupo.com", "electro-quinidan.es", "veneladeli.com", "pralualnfena.es",
    "irontera24.es", "lorelatomara.com", "fenanasdore.com", "zaromarngrupo.es", "maderas-iranato.com",
    "coruelas24.com", "ireto-hnos.com", "jardines-baluroll.com", "sevuelasyelo.com",
    "helomarll-2000.com", "turismo-ubela.com", "calzados-ubira.com", "uburosur.com",
    "talleres-quinonte.com", "academia-neverato.com", "loreras-sl.com", "dental-praluela.com",
    "valuelall-24.com", "lorosatoro.com", "clinica-corana.com", "irelasvala.es", "reformas-casualn.es",
    "olosaiberica.com", "seguros-ubonte.es", "studio-casezos.com", "moda-jalica.com",
    "clinica-irivar.com", "imprenta-naromarn.es", "caselatoyelo.com", "quinelas-sur.com",
    "rosomarto-sur.es", "imprenta-lumualra.es", "hostal-baletos.com", "rosinonsl.com",
    "bodegas-salino.es", "iranarabale.com", "agro-casualn.es", "dental-peluela.net", "talelara-tec.es",
    "garanall-sur.es", "estual-tec.com", "delinoto-sl.com", "muebles-fenelan.es", "studio-irivarn.com",
    "valomarll-norte.com", "jalomarsurir.com", "coricall-sl.es", "corande2000.com", "salandefeno.com",
    "morelasgari.com", "asesoria-delosas.com", "calzados-oriran.com", "yelomarll-grupo.com",
    "clinica-lumica.es", "pralino-24.com", "salirannorte.es", "grafica-lorandeto.com",
    "torontespele.com", "optica-doruroll.com", "salurosgaro.es", "venomarlltala.com",
    "dental-lorivarn.com", "estidanesti.es", "gestoria-valana.com", "moridatoesta.com",
    "firidarasur.es", "pralosan-hnos.com", "golezo-sur.com", "grafica-marino.com",
    "clinica-nevuelas.es", "calzados-moreton.com", "imprenta-yeluelas.es", "narantallhela.org",
    "bodegas-narica.com", "imprenta-maromars.es", "coretoreni.com", "sevomars-sur.com",
    "zareratoyela.com", "bodegas-zaromars.com", "pelezoshnos.es", "grafica-orivar.es", "talana-tec.es",
    "asesoria-pelomar.es", "urualtofire.com", "yelomarn-sl.com", "sevonte-grupo.es", "zarualuban.com",
    "muebles-fenandes.com", "bodegas-zarirall.es", "gestoria-coronten.es", "seguros-marirara.com",
    "nevidallloru.es", "quinetora-sl.es", "moda-firanan.com", "transportes-pralino.es",
    "moda-renantall.com", "salanajale.es", "uridas24.es", "urantasolir.com", "delosatohnos.com",
    "electro-garinoll.com", "lumidaratec.com", "jardines-brenivarra.com", "agro-marande.com",
    "hostal-jalezora.es", "imprenta-estelas.com", "oranall-sur.com",
    "",  // end marker, not an entry
};
const int HostedDomainSlots = (int)(sizeof HostedDomains / sizeof HostedDomains[0]);

int IsHostedDomain(const char* domain)
{
    // Letters are folded A to Z only. That gives the same answer as folding by a double-byte code page:
    // every entry is ASCII, so a domain equal to one is all ASCII too, holds no lead byte (those are above
    // 0x7F) and thus no double-byte character; a domain that holds one differs from every entry either way.
    for (const char* const* entry = HostedDomains; (*entry)[0] != '\0'; ++entry) {
        if (SameTextIgnoringCase(domain, *entry)) return 1;
    }
    return 0;
}
